// Duration of Class 1 calls through the virtual fax line: telvane-fax send
// against spandsp's fax terminal in telvane-line, in real time, for a 1-page
// and a 3-page fax at 14400 and 9600 bit/s. For each call it prints the time
// from the dial command to the end of telvane-fax (hang-up), the time the
// coded page data alone needs at that rate (bytes x 8 / bit rate), and the
// rest: the T.30 exchanges, trainings and the line's own answer delay.
//
//   build/release/bench/fax_call_bench      (about four minutes)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"

namespace fs = std::filesystem;

namespace {

std::string Run(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  status = pclose(pipe);
  return out;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Coded bytes of all pages (the page data without the line records'
// counts) and the number of pages.
long CodedBytes(const std::string& apf, int& pageCount) {
  std::string bytes = ReadAll(apf);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  pageCount = 0;
  if (bytes.size() < tv::kApfFileHeaderSize) return 0;
  tv::ApfFileHeader header;
  tv::UnpackApfFileHeader(p, header);
  pageCount = header.pageCount;
  long total = 0;
  size_t at = header.firstPageOffset;
  for (int n = 0; n < header.pageCount && at + tv::kApfPageHeaderSize <= bytes.size(); ++n) {
    tv::ApfPageHeader page;
    tv::UnpackApfPageHeader(p + at, page);
    size_t data = at + tv::kApfPageHeaderSize;
    size_t end = data + page.dataLength;
    if (page.pageFlags & tv::pfLineRecords) {
      while (data + 2 <= end && end <= bytes.size()) {
        size_t length = p[data] | (p[data + 1] << 8);
        total += static_cast<long>(length);
        data += 2 + length;
      }
    } else {
      total += page.dataLength;
    }
    at = end;
  }
  return total;
}

}  // namespace

int main() {
  fs::path build = fs::canonical("/proc/self/exe").parent_path().parent_path();
  std::string line = (build / "tools/telvane-line/telvane-line").string();
  std::string fax = (build / "tools/telvane-fax/telvane-fax").string();
  if (!fs::exists(line) || !fs::exists(fax)) {
    std::printf("fax_call_bench: telvane-line or telvane-fax is not built; skipped\n");
    return 0;
  }
  fs::path dir = fs::temp_directory_path() / ("fax-call-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir / "rx");
  std::printf("Class 1 calls through telvane-line (spandsp far end), 25 text lines a page\n");
  std::printf("%-7s %6s %8s %9s %9s %9s %9s\n", "pages", "bit/s", "bytes", "data s", "call s",
              "rest s", "line s");
  for (int pages : {1, 3}) {
    std::string text;  // the converter starts a new page after 25 lines
    for (int p = 1; p <= pages; ++p) {
      for (int i = 1; i <= 25; ++i)
        text += "Page " + std::to_string(p) + " line " + std::to_string(i) +
                ": the quick brown fox jumps over the lazy dog 0123456789\n";
    }
    std::ofstream(dir / "fax.txt") << text;
    std::string apf = (dir / "FAX.APF").string();
    int status = 0;
    Run(fax + " convert " + (dir / "fax.txt").string() + " -o " + apf + " --lines-per-page 25",
        status);
    int filePages = 0;
    long bytes = CodedBytes(apf, filePages);
    for (int bps : {14400, 9600}) {
      std::string link = (dir / "modem").string();
      std::string out = (dir / "line.out").string();
      std::system((line + " --answer " + (dir / "rx").string() + " --link " + link +
                   " --timeout 600 > " + out + " 2>&1 &")
                      .c_str());
      for (int i = 0; i < 100 && !fs::exists(link); ++i) usleep(50000);
      auto start = std::chrono::steady_clock::now();
      std::string sent = Run(fax + " send --port " + link + " --to 1 --bps " +
                                 std::to_string(bps) + " " + apf,
                             status);
      double call = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::string result;
      for (int i = 0; i < 100 && result.find("duration=") == std::string::npos; ++i) {
        result = ReadAll(out);
        if (result.find("duration=") == std::string::npos) usleep(100000);
      }
      double lineSeconds = 0;
      size_t at = result.find("duration=");
      if (at != std::string::npos) lineSeconds = std::atof(result.c_str() + at + 9);
      double data = static_cast<double>(bytes) * 8 / bps;
      std::printf("%-7d %6d %8ld %9.1f %9.1f %9.1f %9.1f%s\n", filePages, bps, bytes, data, call,
                  call - data, lineSeconds, status == 0 ? "" : "  (call failed)");
      std::fflush(stdout);
      for (int i = 0; i < 50 && fs::exists(link); ++i) usleep(100000);
    }
  }
  std::printf("call: telvane-fax send from start to exit: set-up, dial, the call, hang-up\n"
              "      (the line answers 2 s after the dial)\n"
              "line: the far end's view, from answer to its end of the call\n");
  fs::remove_all(dir);
  return 0;
}
