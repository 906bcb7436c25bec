// Image commands of telvane-fax: convert documents into APF files, show what
// an APF file holds, and render a page as a PNG or PBM picture.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "images/apf/apf_file.h"
#include "images/bitmap/mono_bitmap.h"
#include "images/convert/tv_fax_converter.h"
#include "images/unpack/fax_unpacker.h"
#include "images/unpack/tv_fax_unpacker.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "tools/telvane-fax/commands.h"

namespace tv::tool {

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "telvane-fax: %s\n", message.c_str());
  return 1;
}

int FailCode(int code) {
  std::string text = ErrorText(code);
  if (text.empty()) text = kGenericErrorMessage;
  return Fail(text + " (" + std::to_string(code) + ")");
}

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

bool ParseNumber(const std::string& s, unsigned& out) {
  if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), ::isdigit)) return false;
  out = static_cast<unsigned>(std::stoul(s));
  return true;
}

// ----------------------------------------------------------------- PBM

// Reads a PBM picture (P4 binary or P1 text); 1 = black as in MonoBitmap.
bool ReadPbm(const std::string& path, MonoBitmap& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  size_t p = 0;
  auto skip = [&] {
    while (p < data.size()) {
      if (data[p] == '#') {
        while (p < data.size() && data[p] != '\n') ++p;
      } else if (std::isspace(data[p])) {
        ++p;
      } else {
        break;
      }
    }
  };
  auto number = [&](long& v) {
    skip();
    v = 0;
    const size_t start = p;
    while (p < data.size() && std::isdigit(data[p]) && p - start < 7) v = v * 10 + (data[p++] - '0');
    return p > start;
  };
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '4' && data[1] != '1')) {
    error = path + " is not a PBM picture";
    return false;
  }
  const bool binary = data[1] == '4';
  p = 2;
  long w = 0, h = 0;
  if (!number(w) || !number(h) || w <= 0 || h <= 0 || w > 2048 || h > 100000) {
    error = path + ": unsupported PBM size (width up to 2048 pixels)";
    return false;
  }
  out = MonoBitmap(static_cast<int>(w), static_cast<int>(h));
  if (binary) {
    ++p;  // the single whitespace after the height
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    if (data.size() < p + rowBytes * h) {
      error = path + ": the picture data is cut short";
      return false;
    }
    for (int y = 0; y < h; ++y) std::memcpy(out.Row(y), data.data() + p + y * rowBytes, rowBytes);
    if (w % 8)
      for (int y = 0; y < h; ++y) out.Row(y)[rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (w % 8));
  } else {
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        skip();
        if (p >= data.size() || (data[p] != '0' && data[p] != '1')) {
          error = path + ": the picture data is cut short";
          return false;
        }
        out.SetPixel(static_cast<int>(x), static_cast<int>(y), data[p++] == '1');
      }
  }
  return true;
}

bool WritePbm(const std::string& path, const MonoBitmap& b) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << b.Width() << " " << b.Height() << "\n";
  const int rowBytes = (b.Width() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y) out.write(reinterpret_cast<const char*>(b.Row(y)), rowBytes);
  return static_cast<bool>(out);
}

// ----------------------------------------------------------------- PNG

uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 3; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Put32(png, Crc32(body.data(), body.size()));
}

// A one-bit grey PNG (0 = black, so the bits are inverted), its picture
// data in stored (uncompressed) deflate blocks.
bool WritePng(const std::string& path, const MonoBitmap& b) {
  const int rowBytes = (b.Width() + 7) / 8;
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(rowBytes + 1) * b.Height());
  for (int y = 0; y < b.Height(); ++y) {
    raw.push_back(0);  // no filter
    for (int i = 0; i < rowBytes; ++i) raw.push_back(static_cast<uint8_t>(~b.Row(y)[i]));
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, s = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    s = (s + a) % 65521;
  }
  for (size_t off = 0; off < raw.size() || off == 0; off += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - off);
    z.push_back(off + n >= raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
    if (raw.empty()) break;
  }
  Put32(z, (s << 16) | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32(ihdr, static_cast<uint32_t>(b.Width()));
  Put32(ihdr, static_cast<uint32_t>(b.Height()));
  ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});  // 1 bit, greyscale
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

// ------------------------------------------------------------- commands

int RunConvert(const std::vector<std::string>& args) {
  std::string input, output;
  TTvFaxConverter c;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    unsigned n = 0;
    if (a == "-o") {
      if (!value(output)) return Fail("-o needs a file name");
    } else if (a == "--fine") {
      c.SetResolution(frHigh);
    } else if (a == "--wide") {
      c.SetWidth(fwWide);
    } else if (a == "--left-margin" || a == "--top-margin" || a == "--lines-per-page" || a == "--tab-stop") {
      if (!value(v) || !ParseNumber(v, n)) return Fail(a + " needs a number");
      if (a == "--left-margin") c.SetLeftMargin(n);
      if (a == "--top-margin") c.SetTopMargin(n);
      if (a == "--lines-per-page") c.SetLinesPerPage(n);
      if (a == "--tab-stop") c.SetTabStop(n);
    } else if (a == "--station-id") {
      if (!value(v)) return Fail("--station-id needs a text");
      c.SetStationID(v);
    } else if (a == "--font") {
      if (!value(v) || (v != "small" && v != "standard")) return Fail("--font is small or standard");
      c.SetFontType(v == "small" ? ffSmall : ffStandard);
    } else if (!a.empty() && a[0] == '-') {
      return Fail("unknown option " + a);
    } else if (input.empty()) {
      input = a;
    } else {
      return Fail("more than one input file");
    }
  }
  if (input.empty() || output.empty()) return Fail("convert needs INPUT and -o OUTPUT.apf");
  if (!std::filesystem::exists(input)) return FailCode(-ecFileNotFound);
  const std::string ext = LowerExtension(input);
  try {
    c.SetDocumentFile(input);
    c.SetOutFileName(output);
    if (ext == ".pbm") {
      MonoBitmap b;
      std::string error;
      if (!ReadPbm(input, b, error)) return Fail(error);
      c.ConvertBitmapToFile(b);
    } else {
      if (ext == ".txt") c.SetInputDocumentType(idText);
      else if (ext == ".tif" || ext == ".tiff") c.SetInputDocumentType(idTiff);
      else if (ext == ".pcx") c.SetInputDocumentType(idPcx);
      else if (ext == ".dcx") c.SetInputDocumentType(idDcx);
      else if (ext == ".bmp") c.SetInputDocumentType(idBmp);
      else return Fail("unsupported input kind '" + ext + "' (use .txt, .tif, .tiff, .pcx, .dcx, .bmp or .pbm)");
      c.ConvertToFile();
    }
  } catch (const ETvException& e) {
    return FailCode(e.ErrorCode());
  }
  ApfFileHeader h;
  ReadApfFileHeader(ApfOutputName(input, output), h);
  std::printf("%s: %d page(s)\n", ApfOutputName(input, output).c_str(), h.pageCount);
  return 0;
}

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail("info needs one APF file");
  const std::string& path = args[0];
  int error = 0;
  std::FILE* f = OpenApfForReading(path, error);
  if (!f) return FailCode(error);
  ApfFileHeader h;
  int rc = ReadApfFileHeader(f, h);
  if (rc < 0) {
    std::fclose(f);
    return FailCode(rc);
  }
  const uint32_t t = h.fileTime;
  std::printf("File:        %s\n", path.c_str());
  std::printf("Station id:  \"%s\"\n", h.StationId().c_str());
  if (t) {
    std::printf("Finished:    %04u-%02u-%02u %02u:%02u:%02u\n", 1980 + (t >> 25), (t >> 21) & 15,
                (t >> 16) & 31, (t >> 11) & 31, (t >> 5) & 63, (t & 31) * 2);
  } else {
    std::printf("Finished:    (no time)\n");
  }
  std::printf("Pages:       %u\n", h.pageCount);
  std::printf("First page:  offset %u\n", h.firstPageOffset);
  std::unique_ptr<FaxUnpackData> u;
  int lines = 0, widest = 0;
  if ((rc = CreateFaxUnpacker(u, nullptr, [&](FaxUnpackData&, unsigned what, const uint8_t*, int len, int) {
         if (what == ulData) {
           ++lines;
           widest = std::max(widest, len * 8);
         }
         return 0;
       })) < 0) {
    std::fclose(f);
    return FailCode(rc);
  }
  ClearUnpackerFlags(*u, ufYield | ufDoubleHeight | ufHalfWidth);
  int result = 0;
  for (int p = 1; p <= h.pageCount; ++p) {
    lines = widest = 0;
    rc = DecodeFaxPage(*u, f, path, p);
    const uint16_t fl = u->pageHeader.pageFlags;
    std::string flags;
    if (fl & pfHighRes) flags += " fine";
    if (fl & pfWide) flags += " wide";
    if (fl & pfLineRecords) flags += " line-records";
    if (flags.empty()) flags = " none";
    if (rc < 0) {
      std::printf("Page %d: flags%s, data %u bytes: %s (%d)\n", p, flags.c_str(), u->pageHeader.dataLength,
                  ErrorText(rc).c_str(), rc);
      result = 1;
      if (rc != ecBadFaxFormat) break;
      continue;
    }
    std::printf("Page %d: flags%s, data %u bytes, %d x %d pixels%s\n", p, flags.c_str(),
                u->pageHeader.dataLength, widest, lines,
                u->badCodes ? (", " + std::to_string(u->badCodes) + " bad codes").c_str() : "");
  }
  std::fclose(f);
  return result;
}

int RunRender(const std::vector<std::string>& args) {
  std::string input, output;
  unsigned page = 1;
  TAutoScaleMode mode = asDoubleHeight;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (a == "--page" && i + 1 < args.size()) {
      if (!ParseNumber(args[++i], page) || page == 0) return Fail("--page needs a page number");
    } else if (a == "--autoscale" && i + 1 < args.size()) {
      const std::string v = args[++i];
      if (v == "double-height") mode = asDoubleHeight;
      else if (v == "half-width") mode = asHalfWidth;
      else if (v == "none") mode = asNone;
      else return Fail("--autoscale is double-height, half-width or none");
    } else if (!a.empty() && a[0] != '-' && input.empty()) {
      input = a;
    } else {
      return Fail("unknown argument " + a);
    }
  }
  if (input.empty() || output.empty()) return Fail("render needs FILE.apf and -o OUT.png|OUT.pbm");
  const std::string ext = LowerExtension(output);
  if (ext != ".png" && ext != ".pbm") return Fail("the output is a .png or .pbm file");
  MonoBitmap b;
  try {
    TTvFaxUnpacker u;
    u.SetOptions(0);
    u.SetAutoScaleMode(mode);
    u.SetInFileName(input);
    b = u.UnpackPageToBitmap(static_cast<int>(page));
  } catch (const ETvException& e) {
    return FailCode(e.ErrorCode());
  }
  // An all-white page has no bitmap; it is shown as one white line.
  const bool white = b.Empty();
  if (white) b = MonoBitmap(1728, 1);
  if (!(ext == ".png" ? WritePng(output, b) : WritePbm(output, b))) return Fail("cannot write " + output);
  std::printf("%s: %d x %d pixels%s\n", output.c_str(), b.Width(), b.Height(), white ? " (the page is all white)" : "");
  return 0;
}

const CommandRegistrar convertCommand({"convert",
                                       "telvane-fax convert INPUT -o OUTPUT.apf [--fine] [--wide] "
                                       "[--left-margin N] [--top-margin N] [--station-id ID] "
                                       "[--lines-per-page N] [--tab-stop N] [--font small|standard]\n"
                                       "    INPUT: .txt, .tif/.tiff, .pcx, .dcx, .bmp or .pbm",
                                       RunConvert});
const CommandRegistrar infoCommand({"info", "telvane-fax info FILE.apf", RunInfo});
const CommandRegistrar renderCommand({"render",
                                      "telvane-fax render FILE.apf -o OUT.png|OUT.pbm [--page N] "
                                      "[--autoscale double-height|half-width|none]",
                                      RunRender});

}  // namespace

}  // namespace tv::tool
