// registry.h - a per-session registry: each session's records in creation order,
// lookups that return the earliest record of a session, removal of the earliest one.
//
// The records of a session id below REGISTRY_SLOTS (every id the session table hands
// out) hang from that id's own slot, so a lookup costs the same with 5 or 500 sessions
// and two sessions driven by two threads never touch the same memory.  Ids above that,
// which only a direct caller of the layer can use, share one list behind a lock.
// Reset runs while no other call of the layer does.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

constexpr uint16_t REGISTRY_SLOTS = 500;

template <typename Record>
class Registry {
public:
    void Reset()
    {
        slots_.fill(nullptr);
        std::lock_guard<std::mutex> guard(overflowLock_);
        overflow_ = nullptr;
    }

    void Append(Record *rec)
    {
        rec->next = nullptr;
        if (rec->sessionId < REGISTRY_SLOTS) {
            AppendTo(slots_[rec->sessionId], rec);
            return;
        }
        std::lock_guard<std::mutex> guard(overflowLock_);
        AppendTo(overflow_, rec);
    }

    Record *Find(uint16_t sessionId)
    {
        if (sessionId < REGISTRY_SLOTS) return slots_[sessionId];
        std::lock_guard<std::mutex> guard(overflowLock_);
        Record **at = Earliest(overflow_, sessionId);
        return at != nullptr ? *at : nullptr;
    }

    // Unlinks the session's earliest record and returns it (null if none).
    Record *Unlink(uint16_t sessionId)
    {
        if (sessionId < REGISTRY_SLOTS) return Detach(&slots_[sessionId]);
        std::lock_guard<std::mutex> guard(overflowLock_);
        return Detach(Earliest(overflow_, sessionId));
    }

private:
    static void AppendTo(Record *&first, Record *rec)
    {
        Record **at = &first;
        while (*at != nullptr) at = &(*at)->next;
        *at = rec;
    }

    static Record **Earliest(Record *&first, uint16_t sessionId)
    {
        for (Record **at = &first; *at != nullptr; at = &(*at)->next) {
            if ((*at)->sessionId == sessionId) return at;
        }
        return nullptr;
    }

    static Record *Detach(Record **at)
    {
        if (at == nullptr || *at == nullptr) return nullptr;
        Record *rec = *at;
        *at = rec->next;
        return rec;
    }

    std::array<Record *, REGISTRY_SLOTS> slots_{};  // each id's records, earliest first
    Record *overflow_ = nullptr;                      // ids from REGISTRY_SLOTS on
    std::mutex overflowLock_;
};
