// LZSS encoder and decoder speed, in MB/s of message bytes, beside the classic tree
// coder of tests/support/lzss_reference.cpp (the 1989 program's structure with its byte
// I/O inline).  Both run in this process on the same seeded corpora of 4 KiB messages,
// each message coded on its own behind its 18-space primer: "mixed" (transaction-like
// records, text and binary messages in turn), and each kind alone, "random" standing
// for already-compressed data and "runs" for long repeats; and "stream", the mixed corpus
// coded as one 1 MiB message, as a long message of a session is, the ring wrapping and
// old strings leaving the trees.  Before measuring, every
// stream of the library's encoder is checked byte for byte against the reference's, and
// the library's decoder against the message.  At the end the library/reference ratios
// are printed per kind (medians when repetitions are asked for).
//
//   build/linux/bench/bench_lzss_codec --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "median_rates.h"
#include "support/lzss_reference.h"
#include "zip/lzss.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t MESSAGE_SIZE = 4096;
constexpr size_t CORPUS_SIZE = 1 << 20;

// ------------------------------------------------------------------ corpora

void AppendRecord(Bytes &out, std::mt19937 &rng, uint32_t serial)
{
    static const char *names[] = {"GREEN GROCER LTD ", "NORTH STATION 12 ", "CITY BAKERY      ", "PHARMACY CENTRAL "};
    uint8_t rec[71] = {};
    for (int i = 0; i < 4; ++i) rec[i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
    uint32_t amount = rng() % 100000;
    for (int i = 0; i < 4; ++i) rec[4 + i] = static_cast<uint8_t>(amount >> (24 - 8 * i));
    rec[8] = 0x02;
    rec[9] = static_cast<uint8_t>(rng() % 4);
    memcpy(rec + 12, names[rng() % 4], 17);
    snprintf(reinterpret_cast<char *>(rec + 30), 20, "2026120%1u%06u", static_cast<unsigned>(rng() % 10),
             static_cast<unsigned>(serial % 1000000));
    memcpy(rec + 50, "9081726354453627", 16);
    out.insert(out.end(), rec, rec + sizeof rec);
}

void AppendText(Bytes &out, std::mt19937 &rng, size_t n)
{
    static const char *words[] = {"the", "station", "centre", "message", "session", "line", "frame", "amount",
                                  "of", "and", "to", "transfer", "accepted", "refused", "balance", "card"};
    size_t start = out.size();
    while (out.size() - start < n) {
        const char *w = words[rng() % 16];
        out.insert(out.end(), w, w + strlen(w));
        out.push_back(rng() % 12 == 0 ? '\r' : ' ');
        if (out.back() == '\r') out.push_back('\n');
    }
    out.resize(start + n);
}

enum Kind { MIXED, RECORDS, TEXT, BINARY, RANDOM, RUNS, STREAM, KINDS };
const char *const KIND_NAMES[KINDS] = {"mixed", "records", "text", "binary", "random", "runs", "stream"};

// The bytes each stream codes: a message, or for "stream" the whole corpus.
size_t MessageSizeOf(Kind kind) { return kind == STREAM ? CORPUS_SIZE : MESSAGE_SIZE; }

void AppendMessage(Bytes &corpus, Kind kind, std::mt19937 &rng, uint32_t &serial)
{
    size_t end = corpus.size() + MESSAGE_SIZE;
    switch (kind) {
    case RECORDS:
        while (corpus.size() < end) AppendRecord(corpus, rng, serial++);
        break;
    case TEXT: AppendText(corpus, rng, MESSAGE_SIZE); break;
    case BINARY:
        while (corpus.size() < end) corpus.push_back(static_cast<uint8_t>(rng() % (rng() % 2 ? 256 : 16)));
        break;
    case RANDOM:
        while (corpus.size() < end) corpus.push_back(static_cast<uint8_t>(rng()));
        break;
    case RUNS:
        while (corpus.size() < end) corpus.insert(corpus.end(), 1 + rng() % 300, static_cast<uint8_t>(rng() % 3));
        break;
    case MIXED:
    case STREAM:
    case KINDS: break;
    }
    corpus.resize(end);
}

Bytes MakeCorpus(Kind kind)
{
    std::mt19937 rng(20261205);
    Bytes corpus;
    uint32_t serial = 1000;
    static const Kind MIX[5] = {RECORDS, RECORDS, TEXT, TEXT, BINARY};
    while (corpus.size() < CORPUS_SIZE) {
        Kind k = kind == MIXED || kind == STREAM ? MIX[corpus.size() / MESSAGE_SIZE % 5] : kind;
        AppendMessage(corpus, k, rng, serial);
    }
    return corpus;
}

// ------------------------------------------------------------------ the library's coder

struct EncodeCtx {
    const uint8_t *input;
    int left;
    bool ending;
    uint8_t *out;
    size_t pos;
    int InputLeft() const { return left; }
    uint8_t NextInput()
    {
        --left;
        return *input++;
    }
    const uint8_t *InputSpan() const { return input; }
    void InputTaken(int n)
    {
        input += n;
        left -= n;
    }
    bool Ending() const { return ending; }
    int PutCodes(const uint8_t *code, int n)
    {
        memcpy(out + pos, code, static_cast<size_t>(n));
        pos += static_cast<size_t>(n);
        return 0;
    }
    int EndMessage() { return 0; }
};

// Codes one message as a session's compressor does: the work area, zeroed once when it
// was made, is cleared of the last message and started afresh.
size_t LibraryEncode(ZipWork &work, const uint8_t *message, size_t n, uint8_t *out)
{
    EncodeCtx ctx{message, static_cast<int>(n), false, out, 0};
    ZIP_EncodeClear(work);
    ZIP_EncodeStart(work);
    while (ctx.left > 0) ZIP_EncodeStep(work, ctx);
    ctx.ending = true;
    while (ZIP_EncodeStep(work, ctx) > 0) {
    }
    return ctx.pos;
}

struct DecodeCtx {
    const uint8_t *code;
    size_t size;
    size_t read;
    uint8_t *out;
    size_t delivered;
    size_t requested;
    int GetCode(uint8_t &b)
    {
        if (read == size) return -4;
        b = code[read++];
        return 0;
    }
    int PutData(uint8_t b)
    {
        out[delivered++] = b;
        return 0;
    }
    bool Full() const { return delivered >= requested; }
    bool Holding() const { return false; }
    void Release() {}
    bool Short() const { return delivered < requested; }
    bool Spans(const uint8_t *&c, int &codeLeft, uint8_t *&o, int &room) const
    {
        c = code + read;
        codeLeft = static_cast<int>(size - read);
        o = out + delivered;
        room = static_cast<int>(requested - delivered) - 1;
        return codeLeft > 0 && room > 0;
    }
    void Consumed(int c, int produced)
    {
        read += static_cast<size_t>(c);
        delivered += static_cast<size_t>(produced);
    }
};

size_t LibraryDecode(UnzipWork &work, const uint8_t *code, size_t n, uint8_t *out, size_t capacity)
{
    memset(&work, 0, sizeof work);
    ZIP_DecodeStart(work);
    DecodeCtx ctx{code, n, 0, out, 0, capacity};
    ZIP_DecodeRun(work, ctx);
    return ctx.delivered;
}

// ------------------------------------------------------------------ corpora with their streams

struct Corpus {
    size_t messageSize;
    Bytes messages;
    std::vector<Bytes> code;  // one stream per message, by the reference coder
};

Corpus Prepare(Kind kind)
{
    Corpus c;
    c.messageSize = MessageSizeOf(kind);
    c.messages = MakeCorpus(kind);
    const size_t size = c.messageSize;
    auto coder = std::make_unique<lzss_reference::Coder>();
    auto work = std::make_unique<ZipWork>();
    auto unzip = std::make_unique<UnzipWork>();
    Bytes input(LZ_PRIMER + size, ' ');
    Bytes out(2 * size + 64);
    Bytes decoded(size + LZ_PRIMER);
    size_t codeBytes = 0;
    for (size_t at = 0; at < c.messages.size(); at += size) {
        const uint8_t *message = c.messages.data() + at;
        memcpy(input.data() + LZ_PRIMER, message, size);
        lzss_reference::Input in{input.data(), input.size(), 0};
        lzss_reference::Output o{out.data(), 0};
        coder->Encode(in, o);
        c.code.emplace_back(out.begin(), out.begin() + static_cast<long>(o.pos));
        codeBytes += o.pos;
        size_t n = LibraryEncode(*work, message, size, out.data());
        if (Bytes(out.begin(), out.begin() + static_cast<long>(n)) != c.code.back()) {
            fprintf(stderr, "%s, message %zu: the library's stream differs from the reference's\n", KIND_NAMES[kind],
                    at / size);
            exit(1);
        }
        const Bytes &code = c.code.back();
        size_t m = LibraryDecode(*unzip, code.data(), code.size(), decoded.data(), decoded.size());
        if (m != decoded.size() || memcmp(decoded.data() + LZ_PRIMER, message, size) != 0) {
            fprintf(stderr, "%s, message %zu: the library's decoder does not give the message back\n",
                    KIND_NAMES[kind], at / size);
            exit(1);
        }
    }
    fprintf(stderr, "%-8s %zu messages, %zu bytes, coded to %zu bytes; every stream identical to the reference's\n",
            KIND_NAMES[kind], c.code.size(), c.messages.size(), codeBytes);
    return c;
}

std::vector<Corpus> corpora;

void Done(benchmark::State &state, const Corpus &c)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.messages.size()));
}

// ------------------------------------------------------------------ benchmarks

void EncodeLibrary(benchmark::State &state, Kind kind)
{
    const Corpus &c = corpora[kind];
    auto work = std::make_unique<ZipWork>();
    Bytes out(2 * c.messageSize + 64);
    for (auto _ : state) {
        for (size_t at = 0; at < c.messages.size(); at += c.messageSize) {
            benchmark::DoNotOptimize(LibraryEncode(*work, c.messages.data() + at, c.messageSize, out.data()));
        }
    }
    Done(state, c);
}

void EncodeReference(benchmark::State &state, Kind kind)
{
    const Corpus &c = corpora[kind];
    auto coder = std::make_unique<lzss_reference::Coder>();
    Bytes input(LZ_PRIMER + c.messageSize, ' ');
    Bytes out(2 * c.messageSize + 64);
    for (auto _ : state) {
        for (size_t at = 0; at < c.messages.size(); at += c.messageSize) {
            memcpy(input.data() + LZ_PRIMER, c.messages.data() + at, c.messageSize);
            lzss_reference::Input in{input.data(), input.size(), 0};
            lzss_reference::Output o{out.data(), 0};
            coder->Encode(in, o);
            benchmark::DoNotOptimize(o.pos);
        }
    }
    Done(state, c);
}

void DecodeLibrary(benchmark::State &state, Kind kind)
{
    const Corpus &c = corpora[kind];
    auto work = std::make_unique<UnzipWork>();
    Bytes out(c.messageSize + LZ_PRIMER);
    for (auto _ : state) {
        for (const Bytes &code : c.code) {
            benchmark::DoNotOptimize(LibraryDecode(*work, code.data(), code.size(), out.data(), out.size()));
        }
    }
    Done(state, c);
}

void DecodeReference(benchmark::State &state, Kind kind)
{
    const Corpus &c = corpora[kind];
    auto coder = std::make_unique<lzss_reference::Coder>();
    Bytes out(c.messageSize + LZ_PRIMER + 32);
    for (auto _ : state) {
        for (const Bytes &code : c.code) {
            lzss_reference::Input in{code.data(), code.size(), 0};
            lzss_reference::Output o{out.data(), 0};
            coder->Decode(in, o);
            benchmark::DoNotOptimize(o.pos);
        }
    }
    Done(state, c);
}

// Prints the runs as the console does and, at the end, library / reference per kind.
class RatioReporter : public MedianRates {
public:
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        printf("\nlibrary / reference, MB/s of message bytes:\n");
        for (const char *direction : {"Encode", "Decode"}) {
            for (int kind = 0; kind < KINDS; ++kind) {
                std::string suffix = std::string("/") + KIND_NAMES[kind];
                Ratio(direction, "Library", "Reference", suffix);
            }
        }
    }

private:
    void Ratio(const char *direction, const char *over, const char *under, const std::string &suffix)
    {
        double a = Rate(std::string(direction) + over + suffix);
        double b = Rate(std::string(direction) + under + suffix);
        if (a <= 0 || b <= 0) return;
        printf("  %s%s  %-9s / %-9s = %.2f\n", direction, suffix.c_str(), over, under, a / b);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (int kind = 0; kind < KINDS; ++kind) corpora.push_back(Prepare(static_cast<Kind>(kind)));
    for (int kind = 0; kind < KINDS; ++kind) {
        std::string suffix = std::string("/") + KIND_NAMES[kind];
        Kind k = static_cast<Kind>(kind);
        benchmark::RegisterBenchmark(("EncodeReference" + suffix).c_str(), EncodeReference, k);
        benchmark::RegisterBenchmark(("EncodeLibrary" + suffix).c_str(), EncodeLibrary, k);
        benchmark::RegisterBenchmark(("DecodeReference" + suffix).c_str(), DecodeReference, k);
        benchmark::RegisterBenchmark(("DecodeLibrary" + suffix).c_str(), DecodeLibrary, k);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
