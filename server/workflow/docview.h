// The read-only view of an outgoing document shown by every page that works
// on one: the approval steps, redrafting and the registration of a
// distributed document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::workflow {

// The markup (UTF-8, a self-contained <table>) of fawen row `id`: its
// drafting fields (escaped), every opinion column (name_hg, name_sh, name_hq,
// name_qf) written as stored, since those columns hold only blocks built by
// opinion_block, and the links "loadhg.asp" (body) and "loadpso.asp"
// (attachment, only when one is stored). Dates are written with `regional`.
// nullopt when no such row exists. The download links name the document
// ("loadhg.asp?flowid=" + id), so two pages open in two tabs each fetch
// their own.
std::optional<std::string> fawen_view(db::Connection& conn, std::int64_t id,
                                      const Regional& regional);

}  // namespace desk::workflow
