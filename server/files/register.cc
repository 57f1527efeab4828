#include "server/files/register.h"

#include "server/files/documents.h"
#include "server/files/mail_pages.h"
#include "server/files/media.h"
#include "server/files/preview.h"
#include "server/files/upload.h"
#include "server/files/upload_pages.h"

namespace desk::files {

void register_pages(asp::Registry& registry) {
  register_mail_pages(registry);
  register_document_pages(registry);
  register_preview_pages(registry);
  register_upload(registry);
  register_upload_pages(registry);
  register_media_pages(registry);
}

}  // namespace desk::files
