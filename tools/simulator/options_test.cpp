#include "options.h"

#include <gtest/gtest.h>

namespace tovaksim {
namespace {

bool Parse(std::vector<std::string> words, Options& options, std::string& error) {
    std::vector<char*> argv{const_cast<char*>("tovaksim")};
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    options = Options{};
    error.clear();
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(Options, TakeTheLineTheModelAndItsSettings) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"--device", "/dev/ttyUSB0", "--model", "--band", "6m", "--name",
                       "KYRAL Beam 2", "--seed", "9", "--power", "off"},
                      options, error))
        << error;
    EXPECT_EQ(options.device, "/dev/ttyUSB0");
    EXPECT_TRUE(options.model);
    EXPECT_EQ(options.seed, 9u);
    ASSERT_EQ(options.settings.size(), 3u);
    EXPECT_EQ(options.settings[1].first, "name");
    EXPECT_EQ(options.settings[1].second, "KYRAL Beam 2");
    EXPECT_TRUE(Parse({"--help"}, options, error)) << "help needs no line";
    ASSERT_TRUE(
        Parse({"--link", "a", "--replay", "tovakrem.log", "--replay-speed", "2.5"}, options, error))
        << error;
    EXPECT_EQ(options.replay, "tovakrem.log");
    EXPECT_EQ(options.replaySpeed, 2.5);
    ASSERT_TRUE(Parse({"--link", "a", "--replay", "tovakrem.log"}, options, error)) << error;
    EXPECT_EQ(options.replaySpeed, 1);
}

TEST(Options, RefuseBadCommandLinesWithAReason) {
    Options options;
    std::string error;
    for (const auto& words : std::vector<std::vector<std::string>>{
             {},
             {"--model"},
             {"--link", "a", "--device", "b"},
             {"--device", "b", "--relink"},
             {"--link", "a", "--band", "20m"},
             {"--link", "a", "--model", "--band"},
             {"--link", "a", "--seed", "x1"},
             {"--link", "a", "--colour", "blue"},
             {"--link", "a", "--replay", "l", "--model"},
             {"--link", "a", "--replay-speed", "2"},
             {"--link", "a", "--replay", "l", "--replay-speed", "0"},
             {"--link", "a", "--replay", "l", "--replay-speed", "-1"},
             {"--link", "a", "--replay", "l", "--replay-speed", "1e3"},
             {"--link", "a", "--replay", "l", "--replay-speed", "1.2.3"},
             {"--link", "a", "--replay", "l", "--replay-speed", "1001"},
             {"--link", "a", "--replay"},
             {"--link"}}) {
        EXPECT_FALSE(Parse(words, options, error)) << words.size();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(Parse({"--link", "a", "--band", "20m"}, options, error));
    EXPECT_NE(error.find("--model"), std::string::npos) << error;
}

}  // namespace
}  // namespace tovaksim
