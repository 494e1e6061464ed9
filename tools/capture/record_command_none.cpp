// Builds without recordings (the Windows cross build): the options are
// refused before the card is opened, so this is reached only by mistake.
#include "record_command.h"

namespace rk350::capture {

int RecordContinuously(const LoadedLibrary&, CaptureSession&, const CaptureOptions& options,
                       const recording::RecorderModule&, std::FILE*) {
  std::fprintf(stderr,
               "rk350-capture: cannot record to %s: this build writes no recordings (it was built without HDF5)\n",
               options.recordPath.c_str());
  return 3;
}

}  // namespace rk350::capture
