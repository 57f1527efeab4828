// The hosting pages of the case files. Every one of them needs a logged-in
// session and the law-firm edition, and shows or changes only cases the user
// may see (cases.h).
#pragma once

#include "platform/asp/asp.h"
#include "server/cases/cases.h"
#include "server/host/kit.h"

namespace desk::cases {

// Registers a case page: outside the law-firm edition it is refused before
// anything else is done.
void add_case_page(asp::Registry& r, std::string_view name, host::Page page,
                   host::PageOptions options = {});
template <class T>
void add_case_page(asp::Registry& r, std::string_view class_name,
                   void (*page)(asp::ScriptingContext&, T&), host::PageOptions options = {}) {
  host::add_page<T>(
      r, class_name,
      [page](asp::ScriptingContext& ctx, T& component) {
        require_law_edition(ctx);
        page(ctx, component);
      },
      options);
}

// "lawlistall.asp" (the case list), "lawinfoalldel.asp", "lawaccept.asp" (the
// acceptance form) and "lawdiscuss.asp" (the case page): case_pages.cc.
void register_case_pages(asp::Registry& r);
// The sub-record lists and their add, delete, upload and download pages:
// record_pages.cc.
void register_record_pages(asp::Registry& r);

}  // namespace desk::cases
