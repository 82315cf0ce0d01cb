// LZSS encoder and decoder speed, in MB/s of message bytes, beside the plain reference
// coder of tests/support/lzss_reference.cpp, written the simple way: one call per
// input byte and per output byte, the whole message at once, no incremental machinery.
// Both run in this process on the same seeded corpus of 4 KiB messages (transaction-
// like records, text, binary), each message coded on its own behind its 18-space
// primer.  Before measuring, every stream of the library's encoder is checked byte for
// byte against the reference's.
//
//   build/linux/bench/bench_lzss_codec --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/lzss_reference.h"
#include "zip/lzss.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t MESSAGE_SIZE = 4096;
constexpr size_t CORPUS_SIZE = 4 << 20;

// ------------------------------------------------------------------ corpus

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

Bytes MakeCorpus()
{
    std::mt19937 rng(20261205);
    Bytes corpus;
    uint32_t serial = 1000;
    while (corpus.size() < CORPUS_SIZE) {
        size_t kind = corpus.size() / MESSAGE_SIZE % 5;
        size_t end = corpus.size() + MESSAGE_SIZE;
        if (kind < 2) {
            while (corpus.size() < end) AppendRecord(corpus, rng, serial++);
        } else if (kind < 4) {
            AppendText(corpus, rng, MESSAGE_SIZE);
        } else {
            while (corpus.size() < end) corpus.push_back(static_cast<uint8_t>(rng() % (rng() % 2 ? 256 : 16)));
        }
        corpus.resize(end);
    }
    return corpus;
}

const Bytes &Corpus()
{
    static const Bytes corpus = MakeCorpus();
    return corpus;
}

// ------------------------------------------------------------------ reference coder


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
    bool Ending() const { return ending; }
    int PutCode(uint8_t b)
    {
        out[pos++] = b;
        return 0;
    }
    int EndMessage() { return 0; }
};

size_t LibraryEncode(ZipWork &work, const uint8_t *message, size_t n, uint8_t *out)
{
    memset(&work, 0, sizeof work);
    EncodeCtx ctx{message, static_cast<int>(n), false, out, 0};
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

// ------------------------------------------------------------------ streams of the corpus

struct Streams {
    std::vector<Bytes> code;  // one stream per message
    size_t messageBytes = 0;
};

const Streams &ReferenceStreams()
{
    static const Streams streams = [] {
        Streams s;
        auto coder = std::make_unique<lzss_reference::Coder>();
        const Bytes &corpus = Corpus();
        Bytes input(LZ_PRIMER + MESSAGE_SIZE, ' ');
        Bytes out(2 * MESSAGE_SIZE + 64);
        for (size_t at = 0; at < corpus.size(); at += MESSAGE_SIZE) {
            memcpy(input.data() + LZ_PRIMER, corpus.data() + at, MESSAGE_SIZE);
            lzss_reference::Input in{input.data(), input.size(), 0};
            lzss_reference::Output o{out.data(), 0};
            coder->Encode(in, o);
            s.code.emplace_back(out.begin(), out.begin() + static_cast<long>(o.pos));
            s.messageBytes += MESSAGE_SIZE;
        }
        return s;
    }();
    return streams;
}

void CheckIdentical()
{
    static bool checked = false;
    if (checked) return;
    auto work = std::make_unique<ZipWork>();
    const Streams &streams = ReferenceStreams();
    Bytes out(2 * MESSAGE_SIZE + 64);
    size_t codeBytes = 0;
    for (size_t i = 0; i < streams.code.size(); ++i) {
        size_t n = LibraryEncode(*work, Corpus().data() + i * MESSAGE_SIZE, MESSAGE_SIZE, out.data());
        if (Bytes(out.begin(), out.begin() + static_cast<long>(n)) != streams.code[i]) {
            fprintf(stderr, "message %zu: the library's stream differs from the reference's\n", i);
            exit(1);
        }
        codeBytes += n;
        auto unzip = std::make_unique<UnzipWork>();
        Bytes decoded(MESSAGE_SIZE + LZ_PRIMER);
        size_t m = LibraryDecode(*unzip, streams.code[i].data(), streams.code[i].size(), decoded.data(), decoded.size());
        if (m != decoded.size() || memcmp(decoded.data() + LZ_PRIMER, Corpus().data() + i * MESSAGE_SIZE, MESSAGE_SIZE)) {
            fprintf(stderr, "message %zu: the library's decoder does not give the message back\n", i);
            exit(1);
        }
    }
    fprintf(stderr, "corpus: %zu messages, %zu bytes, coded to %zu bytes; every stream identical to the reference's\n",
            streams.code.size(), streams.messageBytes, codeBytes);
    checked = true;
}

// ------------------------------------------------------------------ benchmarks

void BM_EncodeLibrary(benchmark::State &state)
{
    CheckIdentical();
    auto work = std::make_unique<ZipWork>();
    const Bytes &corpus = Corpus();
    Bytes out(2 * MESSAGE_SIZE + 64);
    for (auto _ : state) {
        for (size_t at = 0; at < corpus.size(); at += MESSAGE_SIZE) {
            benchmark::DoNotOptimize(LibraryEncode(*work, corpus.data() + at, MESSAGE_SIZE, out.data()));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
}

void BM_EncodeReference(benchmark::State &state)
{
    auto coder = std::make_unique<lzss_reference::Coder>();
    const Bytes &corpus = Corpus();
    Bytes input(LZ_PRIMER + MESSAGE_SIZE, ' ');
    Bytes out(2 * MESSAGE_SIZE + 64);
    for (auto _ : state) {
        for (size_t at = 0; at < corpus.size(); at += MESSAGE_SIZE) {
            memcpy(input.data() + LZ_PRIMER, corpus.data() + at, MESSAGE_SIZE);
            lzss_reference::Input in{input.data(), input.size(), 0};
            lzss_reference::Output o{out.data(), 0};
            coder->Encode(in, o);
            benchmark::DoNotOptimize(o.pos);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
}

void BM_DecodeLibrary(benchmark::State &state)
{
    CheckIdentical();
    const Streams &streams = ReferenceStreams();
    auto work = std::make_unique<UnzipWork>();
    Bytes out(MESSAGE_SIZE + LZ_PRIMER);
    for (auto _ : state) {
        for (const Bytes &code : streams.code) {
            size_t n = LibraryDecode(*work, code.data(), code.size(), out.data(), out.size());
            benchmark::DoNotOptimize(n);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(streams.messageBytes));
}

void BM_DecodeReference(benchmark::State &state)
{
    const Streams &streams = ReferenceStreams();
    auto coder = std::make_unique<lzss_reference::Coder>();
    Bytes out(MESSAGE_SIZE + LZ_PRIMER + 32);
    for (auto _ : state) {
        for (const Bytes &code : streams.code) {
            lzss_reference::Input in{code.data(), code.size(), 0};
            lzss_reference::Output o{out.data(), 0};
            coder->Decode(in, o);
            benchmark::DoNotOptimize(o.pos);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(streams.messageBytes));
}

}  // namespace

BENCHMARK(BM_EncodeReference)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeReference)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
