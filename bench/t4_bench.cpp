// Coding and decoding of whole pages (1728 x 2200) with our T.4 code and
// with libtiff's Group 3 one-dimensional codec, on the same pages in one
// run: a dense text page, a sparse page and a dithered photograph.
// Prints pages per second for each and the ratio ours / libtiff.
//   build/images-release/bench/t4_bench [seconds per measurement]
#include <tiffio.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/convert/fax_converter.h"
#include "images/t4/t4_decoder.h"
#include "images/unpack/fax_unpacker.h"
#include "tests/images/t4/g3_tiff.h"
#include "tests/images/t4/raster_pages.h"

namespace {

using tv::testpages::Raster;
using Clock = std::chrono::steady_clock;

double g_seconds = 1.0;

// Pages per second of fn, run for about g_seconds.
double Rate(const std::function<void()>& fn) {
  fn();  // warm up
  int n = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    fn();
    ++n;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < g_seconds);
  return n / elapsed;
}

std::vector<uint8_t> OurEncode(tv::FaxConvertData& cvt, const Raster& r) {
  std::vector<uint8_t> out;
  out.reserve(1 << 20);
  std::vector<uint8_t> line(tv::kRasterBufferSize, 0);
  for (int y = 0; y < r.height; ++y) {
    std::memcpy(line.data(), r.Row(y), r.RowBytes());
    const int n = tv::EncodeFaxLine(cvt, line.data());
    out.insert(out.end(), cvt.codeBuffer.get(), cvt.codeBuffer.get() + n);
  }
  uint8_t eop[tv::kEndOfPageLength];
  tv::EncodeEndOfPage(cvt, eop);
  out.insert(out.end(), eop, eop + sizeof eop);
  return out;
}

struct CopySink : tv::t4::LineSink {
  std::vector<uint8_t>* raster;
  int rows = 0;
  bool Line(const uint8_t* line, int bytes) override {
    std::memcpy(raster->data() + static_cast<size_t>(rows) * bytes, line, bytes);
    ++rows;
    return true;
  }
};

void SetTags(TIFF* tif, const Raster& r) { tv::testpages::SetG3Tags(tif, r.width, r.height); }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_seconds = std::atof(argv[1]);
  TIFFSetWarningHandler(nullptr);
  const std::string dir = (std::filesystem::temp_directory_path() / "telvane-t4-bench").string();
  std::filesystem::create_directories(dir);
  const std::string tif = dir + "/page.tif";
  const std::string apf = dir + "/page.apf";

  struct Page {
    const char* name;
    Raster raster;
  };
  const Page pages[] = {{"dense text", tv::testpages::DenseText(1728, 2200)},
                        {"sparse", tv::testpages::Sparse(1728, 2200)},
                        {"dithered photo", tv::testpages::DitheredPhoto(1728, 2200)}};

  std::unique_ptr<tv::FaxConvertData> cvt;
  tv::CreateFaxConverter(cvt, nullptr, {}, "");
  tv::SetConverterMargins(*cvt, 0, 0);
  std::unique_ptr<tv::FaxUnpackData> unpack;
  tv::CreateFaxUnpacker(unpack, nullptr, nullptr);
  tv::ClearUnpackerFlags(*unpack, tv::ufYield | tv::ufDoubleHeight);

  std::printf("%-15s %10s | %12s %12s %6s | %12s %12s %6s | %12s\n", "page", "coded KB",
              "encode ours", "libtiff", "ratio", "decode ours", "libtiff", "ratio", "APF->bitmap");
  for (const auto& p : pages) {
    const Raster& r = p.raster;
    const std::vector<uint8_t> coded = OurEncode(*cvt, r);

    // Encoding.
    const double encOurs = Rate([&] {
      volatile size_t n = OurEncode(*cvt, r).size();
      (void)n;
    });
    const double encTiff = Rate([&] {
      TIFF* t = TIFFOpen(tif.c_str(), "w");
      SetTags(t, r);
      TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(r.bits.data()), static_cast<tmsize_t>(r.bits.size()));
      TIFFClose(t);
    });

    // Decoding: both into a full raster in memory.
    std::vector<uint8_t> raster(r.bits.size() + 4096);
    tv::t4::T4Decoder decoder;
    const double decOurs = Rate([&] {
      CopySink sink;
      sink.raster = &raster;
      decoder.StartPage();
      decoder.Feed(coded.data(), coded.size(), sink);
      if (sink.rows != r.height) std::abort();
    });
    {
      TIFF* t = TIFFOpen(tif.c_str(), "w");
      SetTags(t, r);
      TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(coded.data()), static_cast<tmsize_t>(coded.size()));
      TIFFClose(t);
    }
    TIFF* in = TIFFOpen(tif.c_str(), "r");
    const double decTiff = Rate([&] {
      if (TIFFReadEncodedStrip(in, 0, raster.data(), static_cast<tmsize_t>(r.bits.size())) < 0) std::abort();
    });
    TIFFClose(in);
    if (std::memcmp(raster.data(), r.bits.data(), r.bits.size()) != 0) std::abort();

    // The whole road of the viewer: APF file to page bitmap.
    {
      tv::ApfWriter w;
      w.Create(apf);
      w.BeginPage(tv::pfHighRes);
      w.Write(coded.data(), coded.size());
      w.EndPage();
      w.Finish("");
    }
    const double bitmap = Rate([&] {
      tv::MonoBitmap b;
      if (tv::UnpackPageToBitmap(*unpack, apf, 1, b) != 0 || b.Height() != r.height) std::abort();
    });
    std::printf("%-15s %10.1f | %10.1f/s %10.1f/s %6.2f | %10.1f/s %10.1f/s %6.2f | %10.1f/s\n", p.name,
                coded.size() / 1024.0, encOurs, encTiff, encOurs / encTiff, decOurs, decTiff,
                decOurs / decTiff, bitmap);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
