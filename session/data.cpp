// The host's message interface: byte runs, words and long words written in turn, the
// end of message and the hold, and the reads that give the turn back.
#include "session/session.h"
#include "support/bytes.h"
#include "zip/zip.h"

namespace {

// Stands in for a null run of no bytes: to the compressor a null piece ends the message.
const uint8_t NO_BYTES[1] = {0};

short TxData(int16_t id, const void *data, uint16_t length)
{
    SessionRecord *rec = Session_Record(id);
    if (rec->turn != TURN_SEND) {
        Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_TURN));
        return VK_FAIL;
    }
    const auto *bytes = data != nullptr ? static_cast<const uint8_t *>(data) : NO_BYTES;
    if (ZIP_ZipFrame(static_cast<uint16_t>(id), bytes, length, rec->txBuffer) != ZIP_OK) {
        // Shown even when a lower layer has already ended the session with its own text.
        Session_Fail(id, Session_Text(VK_TEXT_ZIP_FAILURE));
        return VK_FAIL;
    }
    return VK_DONE;
}

// Ends the write: a flush for the end of message or for a hold.
short Flush(int16_t id, bool hold)
{
    SessionRecord *rec = Session_Record(id);
    int16_t rc = hold ? ZIP_ZipHold(static_cast<uint16_t>(id), rec->txBuffer)
                      : ZIP_ZipFlush(static_cast<uint16_t>(id), rec->txBuffer);
    if (rc != ZIP_OK) {
        Session_Fail(id, Session_Text(VK_TEXT_ZIP_FAILURE));
        return VK_FAIL;
    }
    return VK_DONE;
}

// A read that failed below the session layer without ending the session (the stream
// could not be decoded, or a frame was refused) ends it here with a text, so that every
// -2 of a read comes with a shown text and a released session.
void FailUnreleased(int16_t id, int16_t zipResult)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr || rec->wouldBlock) return;
    int text = zipResult == ZIP_TRANSPORT ? VK_TEXT_HARDWARE : VK_TEXT_ZIP_FAILURE;
    Session_Fail(id, Session_Text(text));
}

// Reads `length` bytes of the current message: 1, 4 (message ended, turn here), 3
// (ended and closed), or -2 (failure, or a non-blocking time-out with the read kept).
short RxData(int16_t id, void *buffer, uint16_t length, uint16_t *count)
{
    SessionRecord *rec = Session_Record(id);
    rec->wouldBlock = 0;
    if (rec->turn != TURN_RECEIVE) {
        Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_TURN));
        return VK_FAIL;
    }
    uint16_t done = 0;
    if (rec->readPending) {
        if (rec->readLength != length || rec->readDone > length) {
            Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_STRUCT));
            return VK_FAIL;
        }
        done = rec->readDone;
        rec->readPending = 0;
    }
    uint16_t got = static_cast<uint16_t>(length - done);
    uint8_t last = 0;
    int16_t rc = ZIP_UnzipFrame(static_cast<uint16_t>(id), static_cast<uint8_t *>(buffer) + done, &got, &last);
    *count = static_cast<uint16_t>(done + got);
    rec = Session_Record(id);
    if (rc == ZIP_WOULD_BLOCK && rec != nullptr) {
        rec->readPending = 1;
        rec->readBuffer = buffer;
        rec->readLength = length;
        rec->readDone = *count;
        rec->wouldBlock = 1;
        return VK_FAIL;
    }
    if (rc != ZIP_OK && rc != ZIP_ENDED) {
        FailUnreleased(id, rc);
        return VK_FAIL;
    }
    if (last && rec->rxEnd) {
        if (rec->rxClose) {
            Session_Release(id, ReleasePause::Yes);
            return VK_CLOSED;
        }
        rec->turn = TURN_SEND;
        return VK_TURN;
    }
    return VK_DONE;
}

}  // namespace

extern "C" {

short Session_TxStruct(VK_ID word, const void *data, uint16_t length)
{
    int16_t id = Session_IdFromWord(word);
    if (data == nullptr && length != 0) return VK_FAIL;  // refused: nothing shown, nothing changed
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    return TxData(id, data, length);
}

short Session_TxWord(VK_ID word, uint16_t value)
{
    if (Session_Record(Session_IdFromWord(word)) == nullptr) return VK_FAIL;
    uint8_t bytes[2];
    Bytes_PutBE16(bytes, value);
    return Session_TxStruct(word, bytes, 2);
}

short Session_TxLong(VK_ID word, uint32_t value)
{
    if (Session_Record(Session_IdFromWord(word)) == nullptr) return VK_FAIL;
    uint8_t bytes[4];
    Bytes_PutBE32(bytes, value);
    return Session_TxStruct(word, bytes, 4);
}

short Session_TxMsg(VK_ID word, const void *data, uint16_t length)
{
    if (Session_Record(Session_IdFromWord(word)) == nullptr) return VK_FAIL;
    if (data == nullptr && length != 0) return VK_FAIL;  // refused before the length word goes
    short rc = Session_TxWord(word, length);
    if (rc == VK_DONE) rc = Session_TxStruct(word, data, length);
    if (rc == VK_DONE) rc = Session_EOM(word);
    return rc;
}

short Session_EOM(VK_ID word)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    Session_Record(id)->txEnd = 1;
    return Flush(id, false);
}

short Session_Hold(VK_ID word, uint8_t value)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    SessionRecord *rec = Session_Record(id);
    rec->txHold = 1;
    rec->holdValue = value;
    return Flush(id, true);
}

short Session_RxStruct(VK_ID word, void *buffer, uint16_t length)
{
    int16_t id = Session_IdFromWord(word);
    if (buffer == nullptr && length != 0) return VK_FAIL;  // refused: nothing shown, nothing changed
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    uint8_t none[1];
    uint16_t count = 0;
    short rc = RxData(id, buffer != nullptr ? buffer : none, length, &count);
    if (rc == VK_FAIL) {
        SessionRecord *rec = Session_Record(id);
        return rec != nullptr && rec->wouldBlock ? VK_NODATA : VK_FAIL;
    }
    if ((rc == VK_DONE || rc == VK_TURN) && count != length) {
        Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_STRUCT));
        return VK_FAIL;
    }
    return rc;
}

short Session_RxWord(VK_ID word, uint16_t *value)
{
    if (Session_Record(Session_IdFromWord(word)) == nullptr || value == nullptr) return VK_FAIL;
    short rc = Session_RxStruct(word, value, 2);
    if (rc != VK_NODATA) *value = Bytes_GetBE16(reinterpret_cast<uint8_t *>(value));
    return rc;
}

short Session_RxLong(VK_ID word, uint32_t *value)
{
    if (Session_Record(Session_IdFromWord(word)) == nullptr || value == nullptr) return VK_FAIL;
    short rc = Session_RxStruct(word, value, 4);
    if (rc != VK_NODATA) *value = Bytes_GetBE32(reinterpret_cast<uint8_t *>(value));
    return rc;
}

short Session_RxMsg(VK_ID word, void *buffer, uint16_t *length)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    if (length == nullptr) return VK_FAIL;
    SessionRecord *rec = Session_Record(id);
    // A body read left unfinished by a time-out goes on; the length word is in.
    bool bodyPending = rec->readPending && rec->readBuffer == buffer;
    short rc = bodyPending ? short(VK_DONE) : Session_RxWord(word, length);
    if (rc == VK_DONE) rc = Session_RxStruct(word, buffer, *length);
    if (rc == VK_DONE) {
        Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_STRUCT));
        return VK_FAIL;
    }
    if (rc == VK_TURN) return VK_DONE;
    return rc;
}

}  // extern "C"
