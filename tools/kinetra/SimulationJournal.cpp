#include "SimulationJournal.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <tuple>
#include <unordered_map>

#include "text/Numbers.h"

namespace kinetra {

namespace {

// " 0x10039 0x90004-0x90005 0x90007-0x90010": elements in order, runs of consecutive
// identifiers as ranges.
std::string ranges(std::vector<std::uint32_t> elements) {
  std::sort(elements.begin(), elements.end());
  std::string text;
  for (std::size_t i = 0; i < elements.size();) {
    std::size_t j = i;
    while (j + 1 < elements.size() && elements[j + 1] == elements[j] + 1) ++j;
    text += " " + zv::text::hexText(elements[i]);
    if (j > i) text += "-" + zv::text::hexText(elements[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace

SimulationJournal::SimulationJournal(std::shared_ptr<zv::engine::Clock> clock, bool byCause,
                                     std::ostream& out)
    : clock_(std::move(clock)),
      start_(clock_->now()),
      main_(std::this_thread::get_id()),
      byCause_(byCause),
      out_(out) {}

long long SimulationJournal::msAt(std::chrono::nanoseconds sinceEpoch) const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch -
                                                               start_.time_since_epoch())
      .count();
}

long long SimulationJournal::now() const {
  return msAt(clock_->now().time_since_epoch());
}

std::uint64_t SimulationJournal::addEntry(Entry entry) {
  std::lock_guard lock(mutex_);
  entry.step = step_.load(std::memory_order_relaxed);
  entry.seq = (next_ += 2);
  pending_.push_back(std::move(entry));
  return pending_.back().seq;
}

std::uint64_t SimulationJournal::add(long long ms, std::string text,
                                     const zv::device::DriverCall* call) {
  const std::thread::id thread = std::this_thread::get_id();
  Entry entry{thread, ms, 0, thread == main_ ? 0 : 1, 0, std::move(text)};
  if (call) {
    entry.override = call->kind == zv::device::DriverCall::Kind::overrideElement;
    entry.enabled = call->enabled;
    entry.element = call->element;
  }
  return addEntry(std::move(entry));
}

void SimulationJournal::addHeading(std::string text) {
  Entry entry{std::this_thread::get_id(), now(), 0, 0, 0, std::move(text)};
  entry.heading = true;
  addEntry(std::move(entry));
}

void SimulationJournal::addAfter(std::uint64_t seq, std::string text) {
  std::lock_guard lock(mutex_);
  // The line was added in this step: it is among the last few.
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    if (it->seq != seq) continue;
    Entry after = *it;
    after.seq = seq + 1;
    after.text = std::move(text);
    after.override = false;
    after.heading = false;
    pending_.push_back(std::move(after));
    return;
  }
}

// Command threads that act at the same millisecond run truly at once; their lines are
// put thread by thread, in the order of each thread's text.
void SimulationJournal::orderSimultaneousCommands(std::vector<Entry>& entries) const {
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t j = i + 1;
    const Entry& first = entries[i];
    while (j < entries.size() && entries[j].ms == first.ms && entries[j].step == first.step &&
           entries[j].phase == first.phase) {
      ++j;
    }
    if (first.phase == 1 && j - i > 1) {
      std::vector<std::pair<std::string, std::vector<Entry>>> groups;
      std::unordered_map<std::thread::id, std::size_t> groupOf;
      for (std::size_t k = i; k < j; ++k) {
        const auto [at, added] = groupOf.try_emplace(entries[k].thread, groups.size());
        if (added) groups.emplace_back();
        auto& group = groups[at->second];
        group.first += entries[k].text + "\n";
        group.second.push_back(std::move(entries[k]));
      }
      std::stable_sort(groups.begin(), groups.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      std::size_t k = i;
      for (auto& group : groups) {
        for (Entry& entry : group.second) entries[k++] = std::move(entry);
      }
    }
    i = j;
  }
}

void SimulationJournal::write(const std::vector<Entry>& entries) {
  std::string text;
  for (std::size_t i = 0; i < entries.size();) {
    const Entry& entry = entries[i];
    std::size_t j = i + 1;
    std::string line = entry.text;
    if (entry.override) {
      line = std::string("driver  overrideElement ") + (entry.enabled ? "on" : "off");
      std::vector<std::uint32_t> elements;
      for (j = i; j < entries.size() && entries[j].override &&
                  entries[j].enabled == entry.enabled && entries[j].ms == entry.ms &&
                  entries[j].step == entry.step && entries[j].phase == entry.phase;
           ++j) {
        elements.push_back(entries[j].element);
      }
      line += ranges(elements);
    }
    if (entry.heading) {
      text += "\n== " + line + "\n";
    } else {
      char time[32];
      std::snprintf(time, sizeof time, "%7lld ms  ", entry.ms);
      text += time + line + "\n";
    }
    i = j;
  }
  out_ << text;
  out_.flush();
}

void SimulationJournal::flushBefore(long long ms) {
  // Nothing new can be written out until time has moved on.
  if (ms <= flushedBefore_) return;
  std::vector<Entry> ready;
  {
    std::lock_guard lock(mutex_);
    const auto before = [this](const Entry& a, const Entry& b) {
      if (!byCause_) return std::tie(a.ms, a.seq) < std::tie(b.ms, b.seq);
      return std::tie(a.ms, a.step, a.phase, a.seq) < std::tie(b.ms, b.step, b.phase, b.seq);
    };
    // The lines still to come are the few of the present moment: sorting what is
    // pending costs each line about once.
    std::sort(pending_.begin(), pending_.end(), before);
    const auto end = std::partition_point(pending_.begin(), pending_.end(),
                                          [ms](const Entry& e) { return e.ms < ms; });
    ready.assign(std::make_move_iterator(pending_.begin()), std::make_move_iterator(end));
    pending_.erase(pending_.begin(), end);
  }
  flushedBefore_ = ms;
  if (byCause_) orderSimultaneousCommands(ready);
  write(ready);
}

void SimulationJournal::flush() {
  flushedBefore_ = 0;
  flushBefore(std::numeric_limits<long long>::max());
}

}  // namespace kinetra
