#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tamsel {

/// One entry of the timeline. Times are centiseconds from the start of the video.
struct TSub {
  int32_t IndexBegin = 0;  ///< ASS/SSA: first merged event in AssEvents; SRT: 1-based number
  int32_t IndexEnd = 0;    ///< ASS/SSA: last merged event in AssEvents; SRT: = IndexBegin
  int32_t TimeIn = 0;
  int32_t TimeOut = 0;     ///< the entry covers slots TimeIn .. TimeOut inclusive
  std::string Dialogue;    ///< UTF-8; "||" separates display lines; override blocks removed
  bool Changed = false;    ///< must be written back at the next save (ASS/SSA)
  /// SRT: what stood after the end time on the time line (position tags such as
  /// " X1:100 X2:500 Y1:10 Y2:50"), written back after it.
  std::string SrtTimeTail{};
};

/// One line of a loaded ASS or SSA file, event line or not.
struct TAssOriginal {
  int32_t index = 0;       ///< 0-based line number
  int32_t TimeIn = -1;     ///< event start; -1 for a line that is not an event
  int32_t TimeOut = 0;     ///< event end, at least TimeIn + MinGap; 0 for other lines
  std::string Dialogue;    ///< the event's Text field, override blocks included
  std::string DoNotCare;   ///< Style, Name, MarginL, MarginR, MarginV, Effect, each with its ","
  std::string Original;    ///< the line exactly as it will be written back
  int32_t Layer = -1;      ///< the event's layer; -1 for a line that is not an event
};

/// One event of the edited layer, in time order.
struct TAssSort {
  int32_t index = 0;       ///< its line in AssLines
  int32_t TimeIn = 0;
  int32_t TimeOut = 0;
  std::string Dialogue;    ///< its Text field, override blocks included
};

/// One centisecond cell of the coverage map.
struct TWavSelect {
  bool Select = false;     ///< the slot lies inside some entry
  int32_t SubIndex = 0;    ///< the entry that covers it, -1 for none
};

inline bool operator==(const TWavSelect& a, const TWavSelect& b) {
  return a.Select == b.Select && a.SubIndex == b.SubIndex;
}

/// The coverage map `WavSel`: one cell per centisecond slot of the sound, read and written like
/// an array, that costs nothing until its cells are touched.
///
/// A map of a long video has millions of cells, of which the editor looks at a few thousand
/// around the play position, while the load and every step of a queue or elastic drag rebuild
/// it from the timeline. So a rebuild keeps only runs of slots and the entry owning each (the
/// entries' own spans, as long as their in and out times both rise, as the edits keep them),
/// and the cells are held in pages of PAGE_CELLS that are worked out from the runs the first
/// time one of their cells is read or written. A page that was never touched takes no memory,
/// and a read where no run reaches takes none either. A rebuild costs one pass over the
/// timeline, not one over the sound. A rebuild from entries whose in times do not rise writes
/// its cells at once, as a plain array would.
///
/// A reference to a cell lasts until the next assign, Fill or Rebuild, and a reference got by a
/// read of a cell no run reaches names the blank cell, not a cell of a page: write through a
/// reference got from the non-const operator[]. Like the rest of the document the map belongs
/// to the window's thread: a read may fill a page.
class CoverageMap {
 public:
  /// Cells per page: 32 KB, some 41 s of sound.
  static constexpr size_t PAGE_CELLS = 4096;

  CoverageMap() = default;
  CoverageMap(const CoverageMap& other);
  CoverageMap& operator=(const CoverageMap& other);
  /// A map moved from is left empty.
  CoverageMap(CoverageMap&& other) noexcept { Swap(other); }
  CoverageMap& operator=(CoverageMap&& other) noexcept {
    CoverageMap taken(std::move(other));
    Swap(taken);
    return *this;
  }

  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }

  /// Makes the map `cells` cells long, every one `cell`.
  void assign(size_t cells, TWavSelect cell);

  /// Cell `slot` (< size()).
  const TWavSelect& operator[](size_t slot) const {
    const Page& page = m_pages[slot / PAGE_CELLS];
    return page ? page[slot % PAGE_CELLS] : Lookup(slot);
  }
  /// Cell `slot` (< size()), to read or to change.
  TWavSelect& operator[](size_t slot) { return Touch(slot / PAGE_CELLS)[slot % PAGE_CELLS]; }

  const TWavSelect& front() const { return (*this)[0]; }
  TWavSelect& front() { return (*this)[0]; }

  /// Sets the cells from..to (inclusive) to `cell`; slots outside the map are left out.
  void Fill(int64_t from, int64_t to, TWavSelect cell);

  /// Sets every cell to `blank`, then marks the cells TimeIn .. TimeOut of each entry of `subs`
  /// in index order with (true, index), a later entry overwriting an earlier one. The size
  /// stays; cells past the end of the map are not represented.
  void Rebuild(TWavSelect blank, const std::vector<TSub>& subs);

  /// Every cell, spelled out.
  std::vector<TWavSelect> Cells() const;

  /// How many pages hold memory now.
  size_t PagesHeld() const;

 private:
  using Page = std::unique_ptr<TWavSelect[]>;
  /// Slots From..To belong to entry Owner, as far as they lie in the map and no later run
  /// takes them.
  struct Run {
    int32_t From;
    int32_t To;
    int32_t Owner;
  };

  /// Works out runs that do not overlap for the entries in m_runs, whose in times rise but
  /// whose out times do not.
  void FindRuns();
  /// The runs that reach into slots a..b: an index range of m_runs.
  std::pair<size_t, size_t> RunsMeeting(int64_t a, int64_t b) const;
  /// Writes the cells of page `index` as the runs give them into `out` (PAGE_CELLS cells).
  void Derive(size_t index, TWavSelect* out) const;
  /// The cell of `slot` on a page that holds no memory yet.
  const TWavSelect& Lookup(size_t slot) const;
  /// Page `index`, worked out from the runs first when it holds no memory yet.
  TWavSelect* Touch(size_t index) const;
  /// Gives every page back, keeping a few for the next ones to be worked out.
  void DropPages();
  void Swap(CoverageMap& other) noexcept;

  size_t m_size = 0;
  TWavSelect m_blank{false, 0};  ///< every cell outside the runs
  std::vector<Run> m_runs;       ///< From and To both rising
  mutable std::vector<Page> m_pages;
  mutable std::vector<Page> m_spare;  ///< given back by the last rebuild, to be used again
  // Working space of a rebuild, kept so that the rebuilds of a drag do not allocate.
  std::vector<Run> m_entries;
  std::vector<size_t> m_open;
};

/// A whole-map fill of a plain array, cell by cell: marks the cells of every entry of `subs` in
/// index order (a later entry overwrites an earlier one), without touching the Changed flags.
/// Cells past the end of the array are not represented. Checks compare CoverageMap with it.
void MarkSelection(std::vector<TWavSelect>& wavSel, const std::vector<TSub>& subs);

/// Rebuilds the coverage map from the timeline and marks every entry Changed.
void CreatSelAndInd(CoverageMap& WavSel, std::vector<TSub>& Subs);

/// Sets `SubCurr` to the entry at or before the play position `Position` (milliseconds).
void InitializeSubCurr(const CoverageMap& WavSel, const std::vector<TSub>& Subs, int32_t Position,
                       int32_t& SubCurr);

/// The map backs its cells as they are first touched: there is nothing to reserve. (Keeps the
/// callers that ready a plain array for writing working with the map.)
inline void ReservePrefaulted(CoverageMap&, size_t) {}

}  // namespace tamsel
