#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "links/character_interface.h"
#include "links/link_factory.h"

// A link that records every Write and answers Reads from a queue of replies,
// one queued entry per Read. For protocol tests that need exact control of
// what each call returns.
class ScriptedLink : public CCharacterInterface {
public:
    struct ReadAnswer {
        std::string bytes;  // delivered (cut to capacity)
        int result = -2;    // used when bytes is empty: 0 or negative
        int delayMs = 0;    // how long the Read takes, as a link's wait would
    };

    // Results of successive Open calls; when empty, Open succeeds.
    std::deque<int> openResults;
    // Result of each Write: empty = accept everything; otherwise the front
    // entry is used (-1 means "accept everything" for that call).
    std::deque<int> writeResults;
    std::deque<ReadAnswer> reads;

    std::vector<std::string> writes;
    std::vector<int> readCapacities;
    std::vector<int> readPaced;
    int opens = 0;
    int closes = 0;
    // How long a reader waits through empty reads; 0 ends at the first.
    int receiveWaitMs = 0;
    bool failed = false;
    bool* destroyedFlag = nullptr;

    ~ScriptedLink() override {
        if (destroyedFlag) *destroyedFlag = true;
    }

    void QueueReply(const std::string& bytes) { reads.push_back({bytes, 0}); }
    void QueueNothing(int result = -1, int delayMs = 0) { reads.push_back({"", result, delayMs}); }

    // All bytes written so far, concatenated.
    std::string Wire() const {
        std::string all;
        for (const auto& w : writes) all += w;
        return all;
    }

    int Open() override {
        ++opens;
        if (openResults.empty()) return 1;
        int r = openResults.front();
        openResults.pop_front();
        return r;
    }
    void Close() override { ++closes; }
    int ReceiveWaitMs() const override { return receiveWaitMs; }
    bool HasFailed() const override { return failed; }
    int Read(uint8_t* buffer, int capacity, int paced) override {
        readCapacities.push_back(capacity);
        readPaced.push_back(paced);
        if (reads.empty()) return -1;
        ReadAnswer a = reads.front();
        reads.pop_front();
        if (a.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.delayMs));
        if (a.bytes.empty()) return a.result;
        int n = static_cast<int>(std::min<size_t>(a.bytes.size(), static_cast<size_t>(capacity)));
        std::copy(a.bytes.begin(), a.bytes.begin() + n, buffer);
        return n;
    }
    int Write(const uint8_t* data, int length) override {
        int accept = length;
        if (!writeResults.empty()) {
            int r = writeResults.front();
            writeResults.pop_front();
            if (r >= 0) accept = std::min(r, length);
        }
        if (accept > 0) writes.emplace_back(reinterpret_cast<const char*>(data), accept);
        return accept;
    }
};

// A link factory making scripted links, with the record of what the protocol
// object asked for:
//
//   ScriptedLinks links;
//   msg.SetLinkFactory(links.Factory());
//   links.prepare = [](ScriptedLink& l) { l.QueueReply("VRSE3.05,"); };
//   msg.SelectPort("USB");                    // links.link is the new link
struct ScriptedLinks {
    // Every link asked for, as (kind, port name).
    std::vector<std::pair<int, std::string>> linkRequests;
    // The latest link made; the protocol object owns it and destroys it when
    // the next port is chosen.
    ScriptedLink* link = nullptr;
    // Open results for the next link made only (empty: it opens at once).
    std::deque<int> nextOpenResults;
    // Scripts every new link before the protocol object opens it.
    std::function<void(ScriptedLink&)> prepare;

    // The factory refers to this record, which must outlive its use.
    LinkFactory Factory() {
        return [this](int kind, const std::string& port) {
            linkRequests.emplace_back(kind, port);
            auto made = std::make_unique<ScriptedLink>();
            made->openResults = std::exchange(nextOpenResults, {});
            if (prepare) prepare(*made);
            link = made.get();
            return made;
        };
    }

    // Forgets the latest link's traffic so far (a connect's own detection).
    void ForgetTraffic() const {
        link->writes.clear();
        link->readCapacities.clear();
        link->readPaced.clear();
    }
};
