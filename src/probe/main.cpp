// scourline-share-probe: the log page's share test connection, in a process
// of its own. The wizard (or scourline-media) starts it with a fixed
// environment, writes the request with the credentials to its stdin and reads
// the four-byte answer from its stdout; it kills the probe at its deadline.
#include <unistd.h>

#include "platform/linux/share_probe.h"
#include "platform/network.h"

int main() {
    namespace platform = scour::platform;
    platform::ShareProbeRequest request;
    if (!platform::ReadShareProbeRequest(STDIN_FILENO, request)) {
        return 2;
    }
    platform::RunShareProbe(request, STDOUT_FILENO);
    return 0;
}
