// The desk: pending work, the mail box summary, attendance clock-in and
// clock-out, and the latest notices, drawn as four panels on one form.
#pragma once

#include <optional>
#include <string>

#include "platform/asp/asp.h"
#include "server/desk/rz.h"

namespace desk::deskpages {

// `right`: the desk of the base edition. One instance serves one page;
// `main` runs first (handles a posted clock-in or clock-out, writes the
// head), then `main1` on the same instance (writes the body).
class Right : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  void main1(db::Connection& conn);

  // Minutes from the time of day `sBegin` to `sEnd` (text "hh:mm:ss" or
  // "h:mm:ss"; seconds are ignored, a negative difference is returned as it
  // is). A one-digit hour is padded with "0" in the caller's string. Throws
  // Error(bad_request) for text that is not a time of day.
  static int timeplus(std::string& sBegin, std::string& sEnd);

  // Set by `main` when a posted clock-in or clock-out was recorded: the
  // message the desk announces ("签到成功", "退签成功"); "" otherwise.
  std::string done;
  // Markup the hosting page adds at the end of the desk's form (its
  // once-only token); written by `main1` before the form closes.
  std::string form_end;

 protected:
  // The half-day an attendance row belongs to: 0 for editions that keep one
  // row per day, otherwise 1 (morning) or 2 (afternoon).
  virtual int half_day() const { return 0; }
  // Called at the start of `main`, before anything is read or written.
  virtual void begin_page() {}

 private:
  void clock_in(db::Connection& conn);
  void clock_out(db::Connection& conn);
  void work_panel(db::Connection& conn);
  void mail_panel(db::Connection& conn);
  void attendance_panel(db::Connection& conn);
  void news_panel(db::Connection& conn);
  // The user's counts, read once per page for the work and mail panels.
  const Waiting& waiting(db::Connection& conn);
  std::optional<Waiting> waiting_;
};

// `rightsimp`: the desk of the simple edition; the same as `right`.
class RightSimp : public Right {};

// `rightfull`: the desk of the full edition, which keeps one attendance row
// per user, day and half-day.
class RightFull : public Right {
 public:
  // "1" morning, "2" afternoon (from 12:31 on); set by `main`, read by `main1`.
  std::string halfday;

 protected:
  int half_day() const override { return halfday == "2" ? 2 : 1; }
  void begin_page() override;
};

}  // namespace desk::deskpages
