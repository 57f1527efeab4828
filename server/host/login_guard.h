// Throttling of password guessing. Failed logins are counted in their own
// table (`loginfail`), not in the login journal, which keeps only successful
// logins and logouts.
//
// An account with kAccountFailures failures within kWindow is refused for
// kWindow after its latest failure; an address with kAddressFailures failures
// within kWindow is refused until its failures age out of the window.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::host {

inline constexpr int kAccountFailures = 5;
inline constexpr int kAddressFailures = 30;
inline constexpr std::chrono::minutes kWindow{15};

enum class Gate { open, account_locked, address_blocked };

// Whether a login of `uid` from `ip` may be tried now.
Gate login_gate(db::Connection& conn, std::string_view uid, std::string_view ip,
                const DateTime& now);
void record_failure(db::Connection& conn, std::string_view uid, std::string_view ip,
                    const DateTime& now);
// Forgets the failures of `uid` (a successful login, or an administrator
// lifting a lock).
void clear_failures(db::Connection& conn, std::string_view uid);

// Accounts locked now, with the time (ISO) their lock ends.
struct LockedAccount {
  std::string uid;
  std::string until;
};
std::vector<LockedAccount> locked_accounts(db::Connection& conn, const DateTime& now);

}  // namespace desk::host
