// Message-box routing shared by both platforms.
#include "platform/platform.h"

namespace rk350::platform {

namespace detail {
void ShowNativeMessageBox(const char* text);  // per platform
}

namespace {
MessageBoxHandler gHandler = nullptr;
void* gHandlerContext = nullptr;
}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
  gHandler = handler;
  gHandlerContext = handler != nullptr ? context : nullptr;
}

void ShowMessageBox(const char* text) {
  if (gHandler != nullptr) {
    gHandler(gHandlerContext, text);
    return;
  }
  detail::ShowNativeMessageBox(text);
}

}  // namespace rk350::platform
