// The document preview for users without the document helper: a stored body
// shown as PDF in the browser's own viewer. Bodies are converted by
// LibreOffice off the request path (platform/convert), once per body version;
// a body that cannot be converted is said so, with its download link.
//
//   preview.asp?flowid=N[&kind=sw]   the preview page of outgoing (incoming)
//                                    document N: the PDF in a frame, or the
//                                    state of its conversion (the page looks
//                                    again by itself while it runs)
//   previewpdf.asp?flowid=N[&kind=sw]&v=KEY
//                                    the PDF of body version KEY
//
// Both are for users who may read the body (may_read_fawen, may_read_shouwen).
#pragma once

#include "platform/asp/asp.h"

namespace desk::files {

void register_preview_pages(asp::Registry& registry);

}  // namespace desk::files
