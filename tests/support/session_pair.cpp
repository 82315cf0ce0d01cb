#include "support/session_pair.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/platform.h"
#include "session/session.h"
#include "support/tcp_peer.h"

namespace {
void Name(char (&field)[16], const char *text)
{
    memset(field, 0, sizeof field);
    memcpy(field, text, strlen(text));
}
}  // namespace

bool OpenPair(SessionPair &pair, const PairOptions &options)
{
    pair.port = options.port != 0 ? options.port : FreeLoopbackPort();
    Session_Create(&pair.listener);
    Name(pair.listenerParams.localName, "LISTENER");
    Name(pair.listenerParams.localAddress, "127.000.000.001");
    pair.listenerParams.service = options.listenerServiceZero ? 0 : pair.port;
    std::thread passive([&] {
        pair.listenerOpen = Session_WaitForOpen(pair.listener, &pair.listenerParams, &pair.listenerPeer);
    });
    // Opens run one at a time: the caller starts once the listener has prepared and
    // only waits in its accept.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Session_Record(pair.listener) != nullptr && !Session_Record(pair.listener)->passivePrepared &&
           std::chrono::steady_clock::now() < deadline) {
        Platform_RealSleepMs(1);
    }
    SessionOpenParams params{};
    Name(params.localName, "CALLER");
    Name(params.remoteName, "LISTENER");
    Name(params.remoteAddress, "127.000.000.001");
    params.service = pair.port;
    params.serviceOption = options.callerOption;
    do {
        pair.caller = -1;
        Session_Create(&pair.caller);
        pair.callerOpen = Session_Open(pair.caller, &params, &pair.callerPeer);
        if (pair.callerOpen != VK_OPENED) Platform_RealSleepMs(5);  // the listener has not bound yet
    } while (pair.callerOpen != VK_OPENED && std::chrono::steady_clock::now() < deadline);
    passive.join();
    if (!options.keepListening) TCPAPI_End();
    return pair.callerOpen == VK_OPENED && pair.listenerOpen == VK_DONE;
}
