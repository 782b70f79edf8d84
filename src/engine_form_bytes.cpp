// form's steps and partial results as bytes, every count checked against
// the bytes left before anything is made of it.
#include "engine_bytes.h"
#include "engine_form.h"

namespace kernel_width::detail {

namespace {

bool segments_carry_y(form_step_type t) { return t != form_step_type::records &&
                                                 t != form_step_type::terms; }

}  // namespace

engine_bytes write_step(const form_step& s) {
  byte_writer w;
  w.begin(frame_kind::form_step);
  w.u64(static_cast<std::uint64_t>(s.type));
  w.u64(s.n);
  w.u64(s.t.centred);
  w.f64(s.t.mean);
  switch (s.type) {
    case form_step_type::estimates:
      w.u64(s.cols);
      w.u64(s.samples.size());
      w.f64s(s.samples.data(), s.samples.size());
      w.f64s(s.centre.data(), s.cols);
      w.f64(s.spread);
      break;
    case form_step_type::moments:
      w.u64(s.cols);
      break;
    case form_step_type::round:
      w.f64s(s.grids.data(), s.n);
      break;
    case form_step_type::records:
    case form_step_type::terms:
      w.u64(s.rows.size());
      w.u64s(s.rows.data(), s.rows.size());
      if (s.type == form_step_type::records) {
        w.f64s(s.grids.data(), s.rows.size());
        w.u64(s.replays.size());
        w.u64s(s.replays.data(), s.replays.size());
      }
      break;
  }
  return w.finish();
}

bool read_step(const engine_bytes& bytes, form_step& s) {
  byte_reader r = open_frame(bytes.data(), bytes.size(), frame_kind::form_step);
  const std::uint64_t type = r.u64();
  s.type = static_cast<form_step_type>(type);
  s.n = r.u64();
  const std::uint64_t centred = r.u64();
  s.t.centred = centred == 1;
  s.t.mean = r.f64();
  if (!r.ok || type > 4 || centred > 1) return false;
  if (s.type == form_step_type::moments) {
    s.cols = r.u64();
    if (s.cols == 0) return false;
  } else if (s.type == form_step_type::estimates) {
    s.cols = r.u64();
    const std::uint64_t values = r.count(8);
    if (!r.ok || s.cols == 0 || values % s.cols != 0 || values == 0 ||
        s.cols > values)
      return false;
    s.samples.resize(values);
    r.f64s(s.samples.data(), values);
    s.centre.resize(s.cols);
    r.f64s(s.centre.data(), s.cols);
    s.spread = r.f64();
  } else if (s.type == form_step_type::round) {
    if (s.n > static_cast<std::uint64_t>(r.end - r.at) / 8) return false;
    s.grids.resize(s.n);
    r.f64s(s.grids.data(), s.n);
  } else {
    const std::uint64_t count = r.count(8);
    s.rows.resize(count);
    r.u64s(s.rows.data(), count);
    if (s.type == form_step_type::records) {
      s.grids.resize(count);
      r.f64s(s.grids.data(), count);
      s.replays.resize(r.count(8));
      r.u64s(s.replays.data(), s.replays.size());
    }
    for (const auto* rows : {&s.rows, &s.replays})
      for (const std::uint64_t row : *rows)
        if (row >= s.n) return false;
  }
  return r.done();
}

engine_bytes write_partial(const form_partial& p) {
  byte_writer w;
  // Rows' terms run to megabytes: one allocation, not a doubling chain.
  std::size_t size = 64 + 32 * p.records.size() + 56 * p.runs.size();
  for (const form_segment& s : p.segments)
    size += 24 + (segments_carry_y(p.type) ? 16 : 8) * s.x.size();
  w.out.reserve(size);
  w.begin(frame_kind::form_partial);
  w.u64(static_cast<std::uint64_t>(p.type));
  w.u64(p.records.size());
  for (const form_record& r : p.records) {
    w.u64(r.row);
    w.f64(r.record.grid);
    w.f64(r.record.sum);
    w.f64(r.record.odd);
  }
  w.u64(p.segments.size());
  for (const form_segment& s : p.segments) {
    w.u64(s.row);
    w.u64(s.col);
    w.u64(s.x.size());
    w.f64s(s.x.data(), s.x.size());
    if (segments_carry_y(p.type)) w.f64s(s.y.data(), s.x.size());
  }
  w.u64(p.runs.size());
  for (const form_run& r : p.runs) {
    w.u64(r.row);
    w.u64(r.col);
    w.u64(r.count);
    w.f64(r.total);
    w.f64(r.most);
    w.u64(std::uint64_t{r.seen} | std::uint64_t{r.pre} << 1 |
          std::uint64_t{r.trail} << 2 | std::uint64_t{r.first > 0} << 3);
    w.u64(static_cast<std::uint64_t>(r.moves));
  }
  return w.finish();
}

namespace {

bool read_runs(byte_reader& r, form_partial& p) {
  p.runs.resize(r.count(7 * 8));
  for (form_run& x : p.runs) {
    x.row = r.u64();
    x.col = r.u64();
    x.count = r.u64();
    x.total = r.f64();
    x.most = r.f64();
    const std::uint64_t flags = r.u64();
    x.moves = static_cast<std::int64_t>(r.u64());
    if (!r.ok || flags > 15 || x.col + x.count < x.col) return false;
    x.seen = flags & 1;
    x.pre = flags >> 1 & 1;
    x.trail = flags >> 2 & 1;
    x.first = x.seen ? (flags >> 3 & 1 ? 1 : -1) : 0;
  }
  return r.ok && (p.runs.empty() || p.type == form_step_type::records);
}

}  // namespace

bool read_partial(const engine_bytes& bytes, form_partial& p) {
  return read_partial({bytes.data(), bytes.size()}, p);
}

bool read_partial(engine_span bytes, form_partial& p) {
  byte_reader r = open_frame(bytes.data, bytes.size, frame_kind::form_partial);
  const std::uint64_t type = r.u64();
  p.type = static_cast<form_step_type>(type);
  if (!r.ok || type > 4) return false;
  p.records.resize(r.count(32));
  for (form_record& x : p.records) {
    x.row = r.u64();
    x.record = {r.f64(), r.f64(), r.f64()};
  }
  if (!p.records.empty() && p.type != form_step_type::records) return false;
  const bool y = segments_carry_y(p.type);
  p.segments.resize(r.count(24));
  for (form_segment& s : p.segments) {
    s.row = r.u64();
    s.col = r.u64();
    const std::uint64_t count = r.count(y ? 16 : 8);
    if (!r.ok || s.row + count < s.row || s.col + count < s.col) return false;
    if (y && s.col != 0 && p.type != form_step_type::moments) return false;
    s.x.resize(count);
    r.f64s(s.x.data(), count);
    if (y) {
      s.y.resize(count);
      r.f64s(s.y.data(), count);
    }
  }
  return read_runs(r, p) && r.done();
}

}  // namespace kernel_width::detail
