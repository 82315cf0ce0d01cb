// registry.h - a per-session registry: records in creation order behind a head record,
// lookups that return the earliest record of a session, removal of the earliest one.
#pragma once

#include <cstdint>

constexpr uint16_t REGISTRY_HEAD_ID = 65535;

template <typename Record>
struct Registry {
    Record head{};
    Record *last = &head;
    uint16_t count = 0;

    void Reset()
    {
        head = Record{};
        head.sessionId = REGISTRY_HEAD_ID;
        head.next = nullptr;
        last = &head;
        count = 0;
    }

    void Append(Record *rec)
    {
        rec->next = nullptr;
        last->next = rec;
        last = rec;
        ++count;
    }

    Record *Find(uint16_t sessionId)
    {
        Record *rec = head.next;
        for (uint16_t seen = 0; rec != nullptr && seen < count; ++seen, rec = rec->next) {
            if (rec->sessionId == sessionId) return rec;
        }
        return nullptr;
    }

    // Unlinks the session's first record and returns it (null if none).
    Record *Unlink(uint16_t sessionId)
    {
        Record *before = &head;
        for (uint16_t seen = 0; before->next != nullptr && seen < count; ++seen, before = before->next) {
            Record *rec = before->next;
            if (rec->sessionId != sessionId) continue;
            before->next = rec->next;
            if (last == rec) last = before;
            --count;
            return rec;
        }
        return nullptr;
    }
};
