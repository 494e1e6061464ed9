#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "rk350/rk350_ext.h"

#if defined(RK350_E2E_HARDWARE_FLAVOUR)
#include "card/virtual_card.h"
#endif

namespace rk350::e2e {

namespace {
void RK350_CALL CollectMessageBox(void* context, const char* text) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(text);
}

// Installs the message-box handler before any test runs.
class MessageBoxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { RK350_SetMessageBoxHandler(&CollectMessageBox, &MessageBoxTexts()); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MessageBoxEnvironment);

#if defined(RK350_E2E_HARDWARE_FLAVOUR)
int RK350_CALL CardIn(void* card, uint16_t port) { return static_cast<card::VirtualCard*>(card)->In(port); }
int RK350_CALL CardOut(void* card, uint16_t port, uint8_t value) {
  static_cast<card::VirtualCard*>(card)->Out(port, value);
  return 0;
}
#endif
}  // namespace

std::vector<std::string>& MessageBoxTexts() {
  static std::vector<std::string> texts;
  return texts;
}

void ProvideCard() {
#if defined(RK350_E2E_HARDWARE_FLAVOUR)
  static card::VirtualCard card(kCardBase);
  ASSERT_EQ(RK350_SetPortFunctions(&card, &CardIn, &CardOut), RK350_RESULT_OK);
#endif
}

}  // namespace rk350::e2e
