// Internal mail: sending a message with the attachments of the composing
// session, and the rules that decide who may see a mail or an attachment.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/asp/asp.h"

namespace desk::files {

// Recipient login ids of a recipient list ("zhang;li;"). Only complete
// entries (each ended by ";") count; blank entries are skipped; an id listed
// twice appears twice.
std::vector<std::string> parse_recipients(std::string_view list);

// Attachment ids of a `fjlist` ("12,13"), in order; anything that is not a
// positive number is skipped.
std::vector<std::int64_t> parse_id_list(std::string_view list);

// The `mailid` under which the attachments of a composing session wait.
std::string compose_key(asp::Session& session);

// True when `uid` may download attachment `fjid`: it is the recipient or the
// sender of a mail whose `fjlist` names it, or its uploader while it is not
// yet bound to sent mail.
bool may_download_attachment(db::Connection& conn, std::int64_t fjid, const std::string& uid);

// `writemail`: stores one submitted message. Reads the form fields `title`,
// `text`, `hiddenselect` (recipient list) and `username` (the recipients'
// names as shown), the sender from Session `uid`/`username`, and binds the
// attachments uploaded under this session. Writes no HTML.
//
// The whole send is one transaction. A list without any recipient, or one
// naming login ids that no user has, is refused as a whole with
// Error(bad_request) whose message is meant for the user; nothing is written.
class WriteMail : public asp::PageComponent {
 public:
  void main(db::Connection& conn);

  // After a successful main: the new `mail` ids (one per recipient, in list
  // order) and the attachment ids bound to them.
  const std::vector<std::int64_t>& mail_ids() const { return mail_ids_; }
  const std::vector<std::int64_t>& attachment_ids() const { return attachment_ids_; }

 private:
  std::vector<std::int64_t> mail_ids_;
  std::vector<std::int64_t> attachment_ids_;
};

}  // namespace desk::files
