// The .docx reader on untrusted bytes: open, read every part, run the
// changes the control makes, save, and open the saved package again. Refused
// input throws docx::Error; anything else escaping, a crash or a saved
// package that does not open again is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/docx/document.h"
#include "web/docx/error.h"

using desk::docx::Document;
using desk::docx::Error;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  desk::docx::Limits limits;
  limits.max_part_bytes = 8u << 20;
  limits.max_total_bytes = 32u << 20;
  std::string saved;
  try {
    Document d = Document::open(std::string(reinterpret_cast<const char*>(data), size), limits);
    for (const auto& name : d.part_names()) {
      try {
        d.part_bytes(name);
      } catch (const Error&) {
      }
    }
    d.text(d.main_part());
    d.track_revisions();
    d.show_revisions();
    bool locked = d.is_protected();
    d.set_track_revisions(true);
    d.set_show_revisions(false);
    if (!locked) {
      desk::docx::Revision rev{"fuzz", "2024-01-01T00:00:00Z"};
      d.accept_all_revisions();
      d.insert_text({d.main_part(), 0, 0}, "x\ty", &rev);
      d.add_page_number(d.section_count() - 1, 1, true);
      d.set_page_setup(0, {});
      for (std::size_t i = d.inline_shape_count(); i-- > 0;) d.convert_inline_shape(i);
      d.protect(desk::docx::ProtectionType::comments, "kvq", "0123456789abcdef", 1);
    }
    saved = d.save();
  } catch (const Error&) {
    return 0;
  }
  try {
    Document again = Document::open(saved, limits);
    again.text(again.main_part());
  } catch (const Error&) {
    std::abort();  // what the engine saved must open again
  }
  return 0;
}
