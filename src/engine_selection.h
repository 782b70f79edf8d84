// The selection engine's plans and partial results (engine_selection.h)
// as the library holds them, and their bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine_bytes.h"
#include "rank_tally.h"

namespace kernel_width::detail {

// A pass's plan: tally every pair against the windows, or (sample) draw
// `tiles` tiles of 8 x 8 pairs out of the `count` pairs from the stream
// `seed`, into sample_groups tallies that keep every value of the
// windows, a group at most most / sample_groups of a window's.
struct selection_plan {
  bool sample = false;
  std::uint64_t tiles = 0;
  std::uint64_t seed = 0;
  std::uint64_t most = 0;
  std::uint64_t count = 0;
  pass_plan plan;
  engine_bytes bytes;  // as sent; a partial result carries them
};

// A piece's (or a merge's) findings: a tally per group (one for a tally
// pass). A tally keeps the values of window j when keeping[j] is set: then
// every value of its kept buckets, no more than the window allows (room,
// or a group's share of most); else none.
// Counts only (a tally pass's): the values are left out, their windows'
// keeping flags stay, each window that keeps holding its kept buckets'
// count of values elsewhere.
struct selection_partial {
  selection_plan plan;
  std::vector<tally> parts;
  bool counts_only = false;
};

// The plan's bytes into p.bytes.
void write_plan(selection_plan& p);
// A plan from its bytes; false when they are not one.
bool read_plan(const std::uint8_t* data, std::size_t size, selection_plan& p);

// With `more`, a partial result of the same plan whose kept values are
// written after r's (a merge's, without a copy of them all).
engine_bytes write_partial(const selection_partial& r,
                           const selection_partial* more = nullptr);
// With the kept values of each of `more` after r's, in turn.
engine_bytes write_partial(const selection_partial& r,
                           const std::vector<const selection_partial*>& more);
bool read_partial(const engine_bytes& data, selection_partial& r);
bool read_partial(const std::uint8_t* data, std::size_t size,
                  selection_partial& r);

// The tallies a partial result of the plan starts from.
std::size_t parts_of(const selection_plan& p);

// How many values window j of a tally may keep: its room, or a sample
// group's share.
std::uint64_t keep_limit(const selection_plan& p, std::size_t j);

// The count of values in window j's kept buckets.
std::uint64_t kept_wanted(const pass_plan& plan, const tally& t,
                          std::size_t j);

}  // namespace kernel_width::detail
