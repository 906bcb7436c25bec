#include "images/font/fax_font.h"

namespace tv {

const uint8_t* FindFaxFontResource(size_t& size) {
  size = sizeof(kFaxFontResource);
  return kFaxFontResource;
}

}  // namespace tv
