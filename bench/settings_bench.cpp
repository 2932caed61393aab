// What reading the settings file costs the launcher as that file grows.
//
// The game keeps everything it remembers in UserDefault.xml: options, per
// level progress, shop state, cached server texts and base64 blobs. The
// launcher only wants one key, but the XML parser reads and parses the whole
// file, so its cost should grow linearly with the file and nothing worse.
//
//   settings_bench [--files=DIR] [Google Benchmark flags]
//       Times ReadStoredVersion on files of about 4 KB, 1 MB and 16 MB,
//       with the key last. The files are written into DIR (kept), or into a
//       temporary folder that is removed afterwards.
//   settings_bench --read-once=DIR
//       Reads DIR/UserDefault.xml once, prints what it found (or why
//       nothing), how long that took and the program's peak memory (VmHWM),
//       and ends.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "stored_version.h"

namespace fs = std::filesystem;

namespace {

const char kStoredVersion[] = "1.0.4.0";

struct SettingsSize {
  const char* name;  // also the folder the file is written into
  long bytes;        // roughly; the file ends where the next entry won't fit
};
const SettingsSize kSizes[] = {
    {"4KB", 4L << 10},
    {"1MB", 1L << 20},
    {"16MB", 16L << 20},
};

struct SettingsFile {
  fs::path directory;
  long bytes = 0;
  long keys = 0;  // entries before the launcher's key
};
std::vector<SettingsFile> g_files;

// One entry of the kind a game stores, numbered so that every key is
// distinct, as the settings file requires.
std::string MakeEntry(std::mt19937& random, long number, bool small_only) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  char key[64];
  std::string value;
  const int kind = static_cast<int>(random() % (small_only ? 60 : 100));
  if (kind < 30) {
    std::snprintf(key, sizeof key, "level_%05ld_best_score", number);
    value = std::to_string(random() % 1000000);
  } else if (kind < 45) {
    std::snprintf(key, sizeof key, "level_%05ld_stars", number);
    value = std::to_string(random() % 4);
  } else if (kind < 60) {
    std::snprintf(key, sizeof key, "shop_item_%05ld_owned", number);
    value = random() % 2 ? "true" : "false";
  } else if (kind < 85) {
    std::snprintf(key, sizeof key, "daily_reward_%05ld_claimed_at", number);
    char date[32];
    std::snprintf(date, sizeof date, "2024-%02u-%02uT%02u:%02u:%02uZ",
                  static_cast<unsigned>(random() % 12 + 1), static_cast<unsigned>(random() % 28 + 1),
                  static_cast<unsigned>(random() % 24), static_cast<unsigned>(random() % 60),
                  static_cast<unsigned>(random() % 60));
    value = date;
  } else if (kind < 97) {
    // A server reply cached as text: JSON, so full of escaped quotes.
    std::snprintf(key, sizeof key, "cached_event_%05ld_json", number);
    value = "{&quot;id&quot;:" + std::to_string(number) + ",&quot;rewards&quot;:[";
    const unsigned rewards = random() % 20 + 5;
    for (unsigned i = 0; i < rewards; ++i) {
      if (i) value += ',';
      value += "{&quot;item&quot;:&quot;coin_pack_" + std::to_string(random() % 50) +
               "&quot;,&quot;count&quot;:" + std::to_string(random() % 1000) + "}";
    }
    value += "],&quot;title&quot;:&quot;Winter &amp; Spring Festival&quot;}";
  } else {
    // Binary data (an avatar, a save blob) as the game's data setter stores
    // it: base64.
    std::snprintf(key, sizeof key, "profile_%05ld_avatar_data", number);
    value.resize(1024 + random() % 3072);
    for (char& c : value) c = kAlphabet[random() % 64];
  }
  return std::string("    <") + key + ">" + value + "</" + key + ">\n";
}

// Writes dir/UserDefault.xml of about `target` bytes, entry by entry so that
// the writing never holds the file in memory; the launcher's key comes last.
SettingsFile WriteSettingsFile(const fs::path& directory, long target) {
  static const char kHead[] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<userDefaultRoot>\n"
      "    <music_volume>0.8</music_volume>\n"
      "    <effects_volume>1</effects_volume>\n"
      "    <language>zh-CN</language>\n";
  const std::string tail = std::string("    <win32_app_new_version>") + kStoredVersion +
                           "</win32_app_new_version>\n</userDefaultRoot>\n";

  fs::create_directories(directory);
  const fs::path path = directory / "UserDefault.xml";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "settings_bench: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::mt19937 random(20240501);  // the same files on every run
  SettingsFile written{directory, 0, 3};
  std::fputs(kHead, file);
  written.bytes = static_cast<long>(std::strlen(kHead));
  const long room = target - static_cast<long>(tail.size());
  bool small_only = false;
  for (long number = 1; room - written.bytes >= 48; ++number) {
    const std::string entry = MakeEntry(random, number, small_only);
    if (written.bytes + static_cast<long>(entry.size()) > room) {
      small_only = true;  // fill what is left with short entries
      continue;
    }
    std::fwrite(entry.data(), 1, entry.size(), file);
    written.bytes += static_cast<long>(entry.size());
    ++written.keys;
  }
  std::fwrite(tail.data(), 1, tail.size(), file);
  written.bytes += static_cast<long>(tail.size());
  if (std::fclose(file) != 0) {
    std::fprintf(stderr, "settings_bench: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return written;
}

// Writes one file per size under root; the same bytes on every run.
void PrepareFiles(const fs::path& root) {
  for (const SettingsSize& size : kSizes) {
    g_files.push_back(WriteSettingsFile(root / size.name, size.bytes));
  }
}

void EnterDirectory(const fs::path& directory) {
  if (chdir(directory.c_str()) != 0) {
    std::fprintf(stderr, "settings_bench: cannot enter %s\n", directory.c_str());
    std::exit(1);
  }
}

// ReadStoredVersion reads the file in the working directory, so each size
// has a folder of its own and the benchmark works from inside it.
void BM_ReadStoredVersion(benchmark::State& state) {
  const SettingsFile& file = g_files.at(static_cast<size_t>(state.range(0)));
  EnterDirectory(file.directory);
  for (auto _ : state) {
    VersionString version = ReadStoredVersion().version;
    benchmark::DoNotOptimize(version);
  }
  state.SetBytesProcessed(state.iterations() * file.bytes);
  state.SetComplexityN(file.bytes);
  state.counters["file_bytes"] = static_cast<double>(file.bytes);
  state.counters["keys"] = static_cast<double>(file.keys);
  state.SetLabel(kSizes[state.range(0)].name);
}

int ReadOnce(const fs::path& directory) {
  EnterDirectory(directory);
  const auto start = std::chrono::steady_clock::now();
  const StoredRecord stored = ReadStoredVersion();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const VersionString& version = stored.version;
  // A stored version can be long: its first characters tell enough.
  std::printf("%s: %.40s\n", (directory / "UserDefault.xml").c_str(),
              version.empty() ? "(no version)" : version.c_str());
  std::printf("seconds: %.4f\nwhy_none: %s\n", took.count(),
              stored.why_none.empty() ? "-" : stored.why_none.c_str());
  // This program's own peak memory (not its parent's from before the exec,
  // which the kernel's resource usage of the process includes).
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  while (status && std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) std::fputs(line, stdout);
  }
  if (status) std::fclose(status);
  return version == kStoredVersion ? 0 : 1;
}

// The value of --name=VALUE, taken out of argv; empty when absent.
std::string TakeOption(int& argc, char** argv, const char* name) {
  const size_t length = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=') {
      std::string value = argv[i] + length + 1;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      return value;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string read_once = TakeOption(argc, argv, "--read-once");
  if (!read_once.empty()) return ReadOnce(fs::absolute(read_once));

  std::string files = TakeOption(argc, argv, "--files");
  fs::path root;
  bool temporary = false;
  if (files.empty()) {
    std::string pattern = (fs::temp_directory_path() / "settings_bench.XXXXXX").string();
    if (!mkdtemp(&pattern[0])) {
      std::perror("settings_bench: mkdtemp");
      return 1;
    }
    root = pattern;
    temporary = true;
  } else {
    root = fs::absolute(files);
  }
  PrepareFiles(root);

  // A file the lookup cannot find its key in would time the wrong thing.
  for (const SettingsFile& file : g_files) {
    EnterDirectory(file.directory);
    if (ReadStoredVersion().version != kStoredVersion) {
      std::fprintf(stderr, "settings_bench: %s/UserDefault.xml does not give %s\n",
                   file.directory.c_str(), kStoredVersion);
      return 1;
    }
  }

  benchmark::RegisterBenchmark("ReadStoredVersion", BM_ReadStoredVersion)
      ->DenseRange(0, static_cast<int>(g_files.size()) - 1)
      ->Unit(benchmark::kMicrosecond)
      ->Complexity(benchmark::oN);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  EnterDirectory(fs::temp_directory_path());
  if (temporary) {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  return 0;
}
