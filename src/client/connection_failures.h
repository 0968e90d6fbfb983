// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace zpmoni {

// Tells a failure once per episode: the first failure after a success (or after the start) is
// told, the ones that follow it are not, so a cause that lasts neither floods the error log nor
// goes unsaid.
class FailureEpisode {
public:
    // True when this failure opens an episode and is to be told.
    bool Failed() { return !std::exchange(failing, true); }
    void Ended() { failing = false; }

private:
    bool failing = false;
};

// What goes wrong on the client connection, in words, each told once per episode: attempts
// that fail (refused ones only after kRefusalsTold in a row, since a server that is stopped or
// starting refuses for a while), sends the transport refuses, and a stream that had to be
// dropped.
class ConnectionFailures {
public:
    static constexpr int kRefusalsTold = 10;  // a minute of retries

    void SetReport(std::function<void(std::string_view)> r) { report = std::move(r); }

    // An attempt to reach `server` ("127.0.0.1:7000") failed; refused: nobody listens there.
    Failure Attempt(std::string_view server, std::string_view cause, bool refused)
    {
        Failure failure{"Cannot connect to the server at " + std::string(server) + ": " + std::string(cause)};
        refusals = refused ? refusals + 1 : 0;
        if (!refused || refusals >= kRefusalsTold)
            Tell(connect, failure.message);
        return failure;
    }
    Failure Send(std::string_view cause) { return Tell(send, "Cannot send to the server: " + std::string(cause)); }
    Failure Stream(std::string_view cause)
    {
        return Tell(stream, "Dropped the connection to the server: " + std::string(cause));
    }

    // Connected, or stopped on purpose: the attempts' episode is over.
    void Connected()
    {
        refusals = 0;
        connect.Ended();
    }
    void Sent() { send.Ended(); }
    // A connection ended without a drop: a server that sends nonsense on every connection is
    // told once, not at every retry.
    void ClosedInOrder() { stream.Ended(); }

private:
    Failure Tell(FailureEpisode& episode, std::string message)
    {
        if (episode.Failed() && report)
            report(message);
        return Failure{std::move(message)};
    }

    std::function<void(std::string_view)> report;
    FailureEpisode connect, send, stream;
    int refusals = 0;  // attempts refused in a row
};

}  // namespace zpmoni
