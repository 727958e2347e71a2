// What a run said it did, kept for the rules that judge it: each change
// with the place it was made at, and the lines its log took. Passed to the
// run as its observer; of what it finds, only how many names passed on an
// earlier verdict is kept.
#pragma once

#include <string>
#include <vector>

#include "repair/RunObserver.h"

namespace tarvox::testing {

class RecordedRun final : public RunObserver {
 public:
  struct Done {
    ListPlace place;  // the place told last (none before the first)
    RunEvent event;
  };
  const std::vector<Done>& done() const { return done_; }
  const std::string& logged() const { return logged_; }
  // How many names passed on an earlier verdict of the run, not asked about
  // again: with none, a run that keeps no verdict makes the very same calls.
  int passed_earlier() const { return passed_earlier_; }

  // The events of one kind, in the order they came.
  std::vector<Done> Of(RunEvent::Kind kind) const {
    std::vector<Done> found;
    for (const Done& done : done_) {
      if (done.event.kind == kind) found.push_back(done);
    }
    return found;
  }

  void Place(const ListPlace& place) override { place_ = place; }
  void NotRead(Status, bool) override {}
  void NotThere() override {}
  void Read(const ListAsRead&) override {}
  void KeptChanging() override {}
  void Judged(const NameFinding& found) override { passed_earlier_ += found.passed_earlier; }
  void CoInstaller(std::u16string_view, std::u16string_view, int, Status) override {}
  void CoInstallerNotRead(Status) override {}
  void Did(const RunEvent& event) override { done_.push_back({place_, event}); }
  void Logged(std::u16string_view, std::string_view bytes) override { logged_ += bytes; }

 private:
  ListPlace place_;
  std::vector<Done> done_;
  std::string logged_;
  int passed_earlier_ = 0;
};

}  // namespace tarvox::testing
