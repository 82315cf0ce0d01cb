// Two varnek stations in two processes on the two ends of a pseudo-terminal cable,
// holding sessions over the link protocol: peer to peer, through a centre log-in,
// ended by a close or an abort; and a recording replayed in a third run.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>

#include "support/child_process.h"
#include "support/link_peer.h"
#include "support/pty.h"

#ifndef VARNEK_STATION
#error "VARNEK_STATION must name the varnek program"
#endif

namespace {

void WriteFile(const std::string &path, const Bytes &data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SerialStations : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = ::testing::TempDir() + "varnek-serial-" + test->name();
        mkdir(dir.c_str(), 0755);
        SetEnvironment("DRUMMEL_PORT3", cable.a.path);
        SetEnvironment("DRUMMEL_PORT4", cable.b.path);
    }
    // Messages of the sizes given, half compressible, written to files.
    std::vector<std::string> Messages(std::initializer_list<size_t> sizes)
    {
        std::vector<std::string> args;
        std::mt19937 rng(9);
        int n = 0;
        for (size_t size : sizes) {
            Bytes body(size);
            for (size_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(i % 2 ? rng() : 'a' + i % 11);
            std::string path = dir + "/sent-" + std::to_string(++n) + ".bin";
            WriteFile(path, body);
            args.insert(args.end(), {"--send", path});
        }
        return args;
    }
    void ExpectAnswersEqualSent(size_t count)
    {
        for (size_t n = 1; n <= count; ++n) {
            EXPECT_TRUE(ReadFile(dir + "/answer-" + std::to_string(n) + ".bin") ==
                        ReadFile(dir + "/sent-" + std::to_string(n) + ".bin"))
                << "message " << n;
        }
    }
    std::vector<std::string> Call(std::vector<std::string> extra)
    {
        std::vector<std::string> argv = {VARNEK_STATION, "call", "--serial", "4", "--save", dir};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }
    Cable cable;
    std::string dir;
    ChildProcess listener, caller;
};

TEST_F(SerialStations, PeerToPeerMessagesUpTo200000BytesEndWithTheClose)
{
    ASSERT_TRUE(listener.Start({VARNEK_STATION, "listen", "--serial", "3", "--echo", "--count", "1", "--pieces", "3"},
                               dir + "/listen.txt"));
    std::vector<std::string> args = Messages({0, 1, 300, 70000, 200000});
    args.insert(args.end(), {"--p2p", "--pieces", "4"});
    ASSERT_TRUE(caller.Start(Call(args), dir + "/call.txt"));
    EXPECT_EQ(caller.Wait(180), 0) << caller.Output();
    EXPECT_EQ(listener.Wait(30), 0) << listener.Output();
    ExpectAnswersEqualSent(5);
    EXPECT_NE(listener.Output().find("closed by the caller"), std::string::npos) << "the last read ended with 3";
}

TEST_F(SerialStations, ThroughTheCentreUncompressedAndEndedByAnAbort)
{
    ASSERT_TRUE(listener.Start({VARNEK_STATION, "centre", "--serial", "3", "--echo", "--count", "1"},
                               dir + "/centre.txt"));
    std::vector<std::string> args = Messages({5000, 20000});
    args.insert(args.end(), {"--no-compress", "--abort", "cable cut"});
    ASSERT_TRUE(caller.Start(Call(args), dir + "/call.txt"));
    EXPECT_EQ(caller.Wait(180), 3) << caller.Output();
    EXPECT_EQ(listener.Wait(60), 3) << listener.Output();
    ExpectAnswersEqualSent(2);
    EXPECT_NE(caller.Output().find("compression version 0"), std::string::npos) << caller.Output();
    EXPECT_NE(listener.Output().find("log-in record for port 5005 accepted"), std::string::npos);
    EXPECT_NE(listener.Output().find("status: port 1: cable cut"), std::string::npos) << listener.Output();
}

TEST_F(SerialStations, ARecordingReplaysToTheSameAnswers)
{
    ASSERT_TRUE(listener.Start({VARNEK_STATION, "listen", "--serial", "3", "--echo", "--count", "1"}, dir + "/listen.txt"));
    std::vector<std::string> args = Messages({100, 3000});
    args.push_back("--p2p");
    std::string scripts = dir + "/scripts";
    SetEnvironment("VARNEK_SCRIPT_DIR", scripts);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    WriteFile("LINKSCRIPT.INI", Bytes{'p', 'o', 'r', 't', '=', '4', ' ', 'm', 'o', 'd', 'e', '=', 'w', 'r', 'i', 't', 'e', '\n'});
    ASSERT_TRUE(caller.Start(Call(args), dir + "/call.txt"));
    EXPECT_EQ(caller.Wait(120), 0) << caller.Output();
    EXPECT_EQ(listener.Wait(30), 0);
    ExpectAnswersEqualSent(2);
    Bytes first = ReadFile(dir + "/answer-2.bin");
    remove((dir + "/answer-2.bin").c_str());

    // The third run: nobody on the line, the recorded frames in its place.
    WriteFile("LINKSCRIPT.INI", Bytes{'p', 'o', 'r', 't', '=', '4', ' ', 'm', 'o', 'd', 'e', '=', 'R', 'E', 'A', 'D', '\n'});
    SetEnvironment("DRUMMEL_PORT4", "mem:nobody");
    ChildProcess replay;
    ASSERT_TRUE(replay.Start(Call(args), dir + "/replay.txt"));
    EXPECT_EQ(replay.Wait(120), 0) << replay.Output();
    EXPECT_TRUE(ReadFile(dir + "/answer-2.bin") == first) << replay.Output();
}

}  // namespace
