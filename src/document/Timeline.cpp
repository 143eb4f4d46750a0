#include "Timeline.h"

#include <algorithm>
#include <limits>

namespace tamsel {

namespace {

/// Pages a rebuild keeps for the next ones to be worked out, so that a drag, which rebuilds
/// the map on every step while the view reads the same few pages, does not get fresh memory
/// from the system every time.
constexpr size_t SPARE_PAGES = 8;

}  // namespace

CoverageMap::CoverageMap(const CoverageMap& other)
    : m_size(other.m_size), m_blank(other.m_blank), m_runs(other.m_runs) {
  m_pages.resize(other.m_pages.size());
  for (size_t p = 0; p < m_pages.size(); ++p) {
    if (!other.m_pages[p]) continue;
    m_pages[p] = std::make_unique<TWavSelect[]>(PAGE_CELLS);
    std::copy_n(other.m_pages[p].get(), PAGE_CELLS, m_pages[p].get());
  }
}

CoverageMap& CoverageMap::operator=(const CoverageMap& other) {
  if (this != &other) *this = CoverageMap(other);
  return *this;
}

void CoverageMap::Swap(CoverageMap& other) noexcept {
  std::swap(m_size, other.m_size);
  std::swap(m_blank, other.m_blank);
  m_runs.swap(other.m_runs);
  m_pages.swap(other.m_pages);
  m_spare.swap(other.m_spare);
  m_entries.swap(other.m_entries);
  m_open.swap(other.m_open);
}

void CoverageMap::DropPages() {
  for (Page& page : m_pages) {
    if (page && m_spare.size() < SPARE_PAGES) m_spare.push_back(std::move(page));
    page.reset();
  }
}

void CoverageMap::assign(size_t cells, TWavSelect cell) {
  DropPages();
  m_size = cells;
  m_blank = cell;
  m_runs.clear();
  m_pages.resize((cells + PAGE_CELLS - 1) / PAGE_CELLS);
}

std::pair<size_t, size_t> CoverageMap::RunsMeeting(int64_t a, int64_t b) const {
  const auto first =
      std::partition_point(m_runs.begin(), m_runs.end(), [a](const Run& r) { return r.To < a; });
  const auto last =
      std::partition_point(first, m_runs.end(), [b](const Run& r) { return r.From <= b; });
  return {size_t(first - m_runs.begin()), size_t(last - m_runs.begin())};
}

void CoverageMap::Derive(size_t index, TWavSelect* out) const {
  const int64_t a = int64_t(index * PAGE_CELLS);
  const int64_t b = std::min<int64_t>(a + int64_t(PAGE_CELLS), int64_t(m_size)) - 1;
  std::fill_n(out, PAGE_CELLS, m_blank);
  const auto [first, last] = RunsMeeting(a, b);
  for (size_t k = first; k < last; ++k) {
    const Run& r = m_runs[k];
    const int64_t from = std::max<int64_t>(r.From, a);
    const int64_t to = std::min<int64_t>(r.To, b);
    if (from <= to) std::fill(out + (from - a), out + (to - a) + 1, TWavSelect{true, r.Owner});
  }
}

TWavSelect* CoverageMap::Touch(size_t index) const {
  Page& page = m_pages[index];
  if (!page) {
    if (m_spare.empty()) {
      page = std::make_unique<TWavSelect[]>(PAGE_CELLS);
    } else {
      page = std::move(m_spare.back());
      m_spare.pop_back();
    }
    Derive(index, page.get());
  }
  return page.get();
}

const TWavSelect& CoverageMap::Lookup(size_t slot) const {
  // A slot no run reaches is blank; only a covered one needs its page worked out.
  const auto s = int64_t(slot);
  const auto [first, last] = RunsMeeting(s, s);
  if (first == last) return m_blank;
  return Touch(slot / PAGE_CELLS)[slot % PAGE_CELLS];
}

void CoverageMap::Fill(int64_t from, int64_t to, TWavSelect cell) {
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, int64_t(m_size) - 1);
  if (from > to) return;
  for (int64_t a = from / int64_t(PAGE_CELLS) * int64_t(PAGE_CELLS); a <= to;
       a += int64_t(PAGE_CELLS)) {
    const size_t index = size_t(a) / PAGE_CELLS;
    const int64_t b = std::min<int64_t>(a + int64_t(PAGE_CELLS), int64_t(m_size)) - 1;
    const int64_t lo = std::max(from, a);
    const int64_t hi = std::min(to, b);
    if (lo == a && hi == b && cell == m_blank) {
      // A whole page back to blank where no run reaches gives its memory back.
      const auto [first, last] = RunsMeeting(a, b);
      if (first == last) {
        Page& page = m_pages[index];
        if (page && m_spare.size() < SPARE_PAGES) m_spare.push_back(std::move(page));
        page.reset();
        continue;
      }
    }
    TWavSelect* page = Touch(index);
    std::fill(page + (lo - a), page + (hi - a) + 1, cell);
  }
}

void CoverageMap::FindRuns() {
  // The entries, in m_runs as they came, are read from the scratch copy.
  std::swap(m_runs, m_entries);
  const std::vector<Run>& entries = m_entries;
  m_runs.clear();
  const int64_t lastSlot = int64_t(m_size) - 1;
  const auto emit = [this, lastSlot](int64_t from, int64_t to, size_t owner) {
    from = std::max<int64_t>(from, 0);
    to = std::min(to, lastSlot);
    if (from > to) return;
    if (!m_runs.empty() && m_runs.back().Owner == int32_t(owner) && m_runs.back().To + 1 == from) {
      m_runs.back().To = int32_t(to);
    } else {
      m_runs.push_back({int32_t(from), int32_t(to), int32_t(owner)});
    }
  };
  // The entries that may still own slots further on, by rising index and falling out time: the
  // last one owns the slots up to its out time, then the one before it, and so on. An entry
  // hides for good every earlier one that ends no later than it does.
  std::vector<size_t>& open = m_open;
  open.clear();
  for (size_t i = 0; i < entries.size(); ++i) {
    const int64_t in = entries[i].From;
    if (in > lastSlot) break;  // neither it nor any later entry starts inside the map
    const int64_t out = entries[i].To;
    if (out >= in) {
      while (!open.empty() && entries[open.back()].To <= out) open.pop_back();
      open.push_back(i);
    }
    // The slots from this entry's start up to the next one's.
    const int64_t end = i + 1 < entries.size() ? int64_t(entries[i + 1].From) - 1
                                               : std::numeric_limits<int64_t>::max();
    int64_t pos = in;
    while (!open.empty() && pos <= end) {
      const size_t top = open.back();
      const int64_t topOut = entries[top].To;
      if (topOut >= pos) {
        emit(pos, std::min(topOut, end), top);
        if (topOut > end) break;
        pos = topOut + 1;
      }
      open.pop_back();
    }
  }
}

void CoverageMap::Rebuild(TWavSelect blank, const std::vector<TSub>& subs) {
  DropPages();
  m_blank = blank;
  // Each entry is a run of its own. Where in and out times both rise, as the edits keep the
  // timeline, that is all: the last run starting at or before a slot is the one that may own
  // it. Otherwise the runs are worked out.
  m_runs.resize(subs.size());
  bool insRise = true;
  bool outsRise = true;
  for (size_t i = 0; i < subs.size(); ++i) {
    m_runs[i] = {subs[i].TimeIn, subs[i].TimeOut, int32_t(i)};
    if (i > 0) {
      insRise = insRise && subs[i].TimeIn >= subs[i - 1].TimeIn;
      outsRise = outsRise && subs[i].TimeOut >= subs[i - 1].TimeOut;
    }
  }
  if (insRise && outsRise) return;
  if (insRise) {
    FindRuns();
    return;
  }
  // A later entry starts before an earlier one: mark the cells now.
  std::swap(m_runs, m_entries);
  m_runs.clear();
  for (const Run& entry : m_entries) Fill(entry.From, entry.To, TWavSelect{true, entry.Owner});
}

std::vector<TWavSelect> CoverageMap::Cells() const {
  std::vector<TWavSelect> cells(m_pages.size() * PAGE_CELLS);
  for (size_t p = 0; p < m_pages.size(); ++p) {
    TWavSelect* out = cells.data() + p * PAGE_CELLS;
    if (m_pages[p]) {
      std::copy_n(m_pages[p].get(), PAGE_CELLS, out);
    } else {
      Derive(p, out);
    }
  }
  cells.resize(m_size);
  return cells;
}

size_t CoverageMap::PagesHeld() const {
  return size_t(std::count_if(m_pages.begin(), m_pages.end(), [](const Page& p) { return !!p; }));
}

void MarkSelection(std::vector<TWavSelect>& wavSel, const std::vector<TSub>& subs) {
  const int64_t cells = static_cast<int64_t>(wavSel.size());
  for (size_t i = 0; i < subs.size(); ++i) {
    const int64_t from = std::max<int64_t>(subs[i].TimeIn, 0);
    const int64_t to = std::min<int64_t>(subs[i].TimeOut, cells - 1);
    for (int64_t s = from; s <= to; ++s) wavSel[s] = {true, static_cast<int32_t>(i)};
  }
}

void CreatSelAndInd(CoverageMap& WavSel, std::vector<TSub>& Subs) {
  WavSel.Rebuild(TWavSelect{false, -1}, Subs);
  for (auto& sub : Subs) sub.Changed = true;
}

void InitializeSubCurr(const CoverageMap& WavSel, const std::vector<TSub>& Subs, int32_t Position,
                       int32_t& SubCurr) {
  const int32_t slot = Position / 10;
  if (slot >= 0 && static_cast<size_t>(slot) < WavSel.size() && WavSel[slot].Select) {
    SubCurr = WavSel[slot].SubIndex;
    return;
  }
  int32_t i = 0;
  while (static_cast<size_t>(i) < Subs.size() && Subs[i].TimeIn <= slot) ++i;
  SubCurr = std::max(i - 1, 0);
}

}  // namespace tamsel
