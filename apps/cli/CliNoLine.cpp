// The commands that need a serial line, in a build without a serial engine.
#include "apps/cli/CliRun.h"
#include "serial/SerialNotify.h"

namespace varnis::cli {
namespace {

int NoLine(std::ostream& err) {
    err << "varnis-cli: this build has no serial line support; only frame works." << std::endl;
    return kExitFailure;
}

}  // namespace

int RunMake(const CliOptions&, std::ostream&, std::ostream& err, int) { return NoLine(err); }
int RunPorts(const CliOptions&, std::ostream&, std::ostream& err) { return NoLine(err); }

}  // namespace varnis::cli

namespace varnis {
void SetTraceSink(TraceSink) {}  // no engine, nothing traced
}  // namespace varnis
