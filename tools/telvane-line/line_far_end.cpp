#include "tools/telvane-line/line_far_end.h"

#include <algorithm>
#include <cstdio>

namespace tv::line {

namespace {
void LogText(int, const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void EnableLog(logging_state_t* log, const char* tag) {
  span_log_set_message_handler(log, LogText);
  span_log_set_tag(log, tag);
  span_log_set_level(log, SPAN_LOG_SHOW_DATE | SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_FLOW);
}

int Dpi(int pixelsPerMetre) { return static_cast<int>(pixelsPerMetre * 0.0254 + 0.5); }

void QuietTiffWarnings(const char*, const char*, va_list) {}
}  // namespace

int CheckFaxTiff(const std::string& path, std::string* error) {
  TIFFErrorHandler oldWarning = TIFFSetWarningHandler(QuietTiffWarnings);
  TIFFErrorHandler oldError = TIFFSetErrorHandler(QuietTiffWarnings);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  int pages = 0;
  if (tif == nullptr) {
    *error = "cannot read " + path + " as a TIFF file";
  } else {
    do {
      ++pages;
      uint32_t width = 0;
      uint16_t bits = 1, samples = 1;
      float xres = 0, yres = 0;
      uint16_t unit = RESUNIT_INCH;
      TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
      TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
      TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
      TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
      if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres)) xres = 0;
      if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) yres = 0;
      if (unit == RESUNIT_CENTIMETER) {
        xres *= 2.54f;
        yres *= 2.54f;
      }
      const std::string where = path + " page " + std::to_string(pages) + ": ";
      if (bits != 1 || samples != 1) {
        *error = where + "not a black-and-white image (one bit per pixel)";
      } else if (width != 1728 && width != 2048 && width != 2432) {
        *error = where + "width " + std::to_string(width) +
                 " is no fax page width (1728, 2048 or 2432 pixels)";
      } else if (xres < 190 || xres > 210 || !(yres > 90 && yres < 400)) {
        *error = where + "resolution is no fax resolution (204 x 98 or 204 x 196 dpi)";
      }
      if (!error->empty()) break;
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
  }
  TIFFSetWarningHandler(oldWarning);
  TIFFSetErrorHandler(oldError);
  return error->empty() ? pages : 0;
}

TTvFarEnd::TTvFarEnd(const TTvFarEndOptions& options) : options_(options) {
  fax_ = fax_init(nullptr, options_.calling ? 1 : 0);
  fax_set_transmit_on_idle(fax_, 1);
  fax_set_tep_mode(fax_, 0);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  t30_set_tx_ident(t30, options_.ident.c_str());
  t30_set_supported_modems(t30, options_.modems);
  t30_set_ecm_capability(t30, options_.ecm ? 1 : 0);
  t30_set_phase_e_handler(t30, &TTvFarEnd::PhaseE, this);
  t30_set_phase_d_handler(t30, &TTvFarEnd::PhaseD, this);
  if (options_.refusePage > 0 && !options_.calling) {
    t30_set_real_time_frame_handler(t30, &TTvFarEnd::Frame, this);
  }
  if (options_.calling) {
    t30_set_tx_file(t30, options_.file.c_str(), -1, -1);
  } else {
    t30_set_rx_file(t30, options_.file.c_str(), -1);
  }
  if (options_.log) {
    EnableLog(fax_get_logging_state(fax_), "far-end");
    EnableLog(t30_get_logging_state(t30), "far-end T.30");
  } else {
    span_log_set_level(fax_get_logging_state(fax_), 0);
    span_log_set_level(t30_get_logging_state(t30), 0);
  }
}

TTvFarEnd::~TTvFarEnd() {
  if (fax_ != nullptr) fax_free(fax_);
}

void TTvFarEnd::PhaseE(t30_state_t* s, void* user, int code) {
  auto* self = static_cast<TTvFarEnd*>(user);
  if (self->result_.finished) return;
  t30_stats_t stats{};
  t30_get_transfer_statistics(s, &stats);
  TTvFarEndResult& r = self->result_;
  r.finished = true;
  r.code = code;
  r.text = t30_completion_code_to_str(code);
  r.pages = self->options_.calling ? stats.pages_tx : stats.pages_rx;
  r.bitRate = stats.bit_rate;
  r.xDpi = Dpi(stats.x_resolution);
  r.yDpi = Dpi(stats.y_resolution);
  const char* ident = t30_get_rx_ident(s);
  r.remoteIdent = ident ? ident : "";
}

// Refusing a page: when the post-page message of that page arrives, before
// the T.30 judges the page, its rows are counted as bad, so that it answers
// RTN and the sender has to send the page again.
void TTvFarEnd::Frame(t30_state_t* s, void* user, int incoming, const uint8_t* msg, int len) {
  auto* self = static_cast<TTvFarEnd*>(user);
  if (!incoming || len < 3 || self->refused_) return;
  const int fcf = msg[2] & 0xFE;
  if (fcf != T30_MPS && fcf != T30_EOP && fcf != T30_EOM) return;
  t30_stats_t stats{};
  t30_get_transfer_statistics(s, &stats);
  if (stats.pages_rx + 1 != self->options_.refusePage) return;
  self->refused_ = true;
  t4_t6_decode_state_t& decoder = s->t4.rx.t4_t6_rx;
  const int rows = std::max(s->t4.rx.row, 1000);
  decoder.bad_rows = rows;
  decoder.longest_bad_row_run = rows;
  if (self->options_.log) {
    std::fprintf(stderr, "telvane-line: far end: refusing page %d once\n", stats.pages_rx + 1);
  }
}

int TTvFarEnd::PhaseD(t30_state_t* s, void* user, int) {
  auto* self = static_cast<TTvFarEnd*>(user);
  if (self->options_.hangupAfterPage > 0 && self->PagesSoFar() >= self->options_.hangupAfterPage) {
    self->hangUpNow_ = true;  // outside the T.30's own processing
  }
  if (self->options_.log) {
    t30_stats_t stats{};
    t30_get_transfer_statistics(s, &stats);
    std::fprintf(stderr, "telvane-line: far end: page %d %s at %d bit/s\n",
                 self->options_.calling ? stats.pages_tx : stats.pages_rx,
                 self->options_.calling ? "sent" : "received", stats.bit_rate);
  }
  return T30_ERR_OK;
}

int TTvFarEnd::PagesSoFar() {
  t30_stats_t stats{};
  t30_get_transfer_statistics(fax_get_t30_state(fax_), &stats);
  return options_.calling ? stats.pages_tx : stats.pages_rx;
}

void TTvFarEnd::Transmit(int16_t* amp, int n) {
  if (hangUpNow_) {
    hangUpNow_ = false;
    if (options_.log) std::fprintf(stderr, "telvane-line: far end: hangs up after page %d\n", PagesSoFar());
    LineDropped();
  }
  const int got = fax_tx(fax_, amp, n);
  for (int i = got < 0 ? 0 : got; i < n; ++i) amp[i] = 0;
}

void TTvFarEnd::Receive(int16_t* amp, int n) { fax_rx(fax_, amp, n); }

void TTvFarEnd::LineDropped() {
  if (!result_.finished) t30_terminate(fax_get_t30_state(fax_));
}

}  // namespace tv::line
