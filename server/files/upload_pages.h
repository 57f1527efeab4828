// The endpoint of the document control's multi-file upload, and the page
// that serves the files it stored.
//
// "upload.asp" (POST, logged-in users, a once-only `formtoken` in the query
// or as a named value of the body): every file part of the multipart body is
// stored in the upload store (upfiles/) under a new name with the
// extension it was sent with, and recorded with its uploader in `upfile`.
// The answer is text/plain (GB2312):
//   200  one line per stored file, in body order: the part's field name, the
//        stored name and the size in bytes, separated by single blanks and
//        ended by CR LF ("file1 2006120315304512345.doc 20480"); no line
//        when the body holds no file;
//   4xx  one line, the reason: 400 an empty or malformed body or a missing
//        or stale token, 409 a token already used, 413 a body over the
//        session's MaxSize, 415 a file of a refused type (programs and server
//        scripts).
// Either all files are stored or none.
//
// "upfile.asp?name=": a stored file, to its uploader only, as an attachment
// under the name it was sent with; byte ranges as on the media files.
#pragma once

#include "platform/asp/asp.h"

namespace desk::files {

// Extensions the upload store refuses.
inline constexpr std::string_view kRefusedUploadExt =
    "asp;asa;aspx;ascx;cer;cdx;htr;shtml;stm;php;jsp;exe;com;bat;cmd;scr;pif;vbs;vbe;js;jse;wsf;"
    "wsh;hta;msi;dll";

void register_upload_pages(asp::Registry& registry);

}  // namespace desk::files
