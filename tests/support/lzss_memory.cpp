#include "support/lzss_memory.h"

#include <algorithm>
#include <cstring>

namespace {

struct MemoryEncoder {
    const uint8_t *input = nullptr;
    size_t left = 0;
    bool ending = false;
    Bytes out;
    int InputLeft() const { return static_cast<int>(std::min<size_t>(left, 0x7FFF)); }
    uint8_t NextInput()
    {
        --left;
        return *input++;
    }
    const uint8_t *InputSpan() const { return input; }
    void InputTaken(int n)
    {
        input += n;
        left -= static_cast<size_t>(n);
    }
    bool Ending() const { return ending; }
    int PutCodes(const uint8_t *code, int n)
    {
        out.insert(out.end(), code, code + n);
        return 0;
    }
    int EndMessage() { return 0; }
};

struct MemoryDecoder {
    const Bytes *stream = nullptr;
    size_t read = 0;
    size_t available = 0;  // code bytes handed over so far
    Bytes out;             // room for the whole message; `made` bytes of it are filled
    size_t made = 0;
    size_t requested = 0;
    size_t delivered = 0;
    size_t primer = 0;
    int GetCode(uint8_t &b)
    {
        if (read >= stream->size()) return -4;
        if (read >= available) return -1;
        b = (*stream)[read++];
        return 0;
    }
    int PutData(uint8_t b)
    {
        if (primer < LZ_PRIMER) {
            ++primer;
            return 0;
        }
        if (made == out.size()) return -1;
        out[made++] = b;
        ++delivered;
        return 0;
    }
    bool Full() const { return primer == LZ_PRIMER && delivered >= requested; }
    bool Holding() const { return false; }
    void Release() {}
    bool Short() const { return delivered < requested; }
    bool Spans(const uint8_t *&code, int &codeLeft, uint8_t *&o, int &room)
    {
        if (primer < LZ_PRIMER) return false;
        code = stream->data() + read;
        codeLeft = static_cast<int>(available - read);
        o = out.data() + made;
        room = static_cast<int>(std::min<size_t>(requested - delivered, out.size() - made)) - 1;
        return codeLeft > 0 && room > 0;
    }
    void Consumed(int code, int produced)
    {
        read += static_cast<size_t>(code);
        made += static_cast<size_t>(produced);
        delivered += static_cast<size_t>(produced);
    }
};

}  // namespace

Bytes LzssEncode(const Bytes &message, size_t piece)
{
    auto work = std::make_unique<ZipWork>();
    memset(work.get(), 0, sizeof *work);
    MemoryEncoder enc;
    ZIP_EncodeStart(*work);
    size_t at = 0;
    do {
        size_t n = piece == 0 ? message.size() - at : std::min(piece, message.size() - at);
        enc.input = message.data() + at;
        enc.left = n;
        at += n;
        while (enc.left > 0) ZIP_EncodeStep(*work, enc);
    } while (at < message.size());
    enc.ending = true;
    while (ZIP_EncodeStep(*work, enc) > 0) {
    }
    return enc.out;
}

Bytes LzssDecode(const Bytes &stream, size_t piece, size_t feed)
{
    auto work = std::make_unique<UnzipWork>();
    memset(work.get(), 0, sizeof *work);
    ZIP_DecodeStart(*work);
    MemoryDecoder dec;
    dec.stream = &stream;
    dec.out.resize(stream.size() * 9 + 64);  // no stream expands more
    dec.available = feed == 0 ? stream.size() : 0;
    for (;;) {
        dec.requested = dec.delivered + (piece == 0 ? SIZE_MAX / 2 : piece);
        size_t before = dec.made + dec.primer + dec.read;
        ZIP_DecodeRun(*work, dec);
        if (dec.read >= stream.size() && dec.Short()) break;
        if (feed != 0 && dec.read >= dec.available) dec.available = std::min(stream.size(), dec.available + feed);
        if (dec.made + dec.primer + dec.read == before && dec.read >= stream.size()) break;
    }
    dec.out.resize(dec.made);
    return dec.out;
}
