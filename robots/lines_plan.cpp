// Planning over racing lines: which line continues into which, what a line costs a rider of
// each skill, the cheapest chains through a run of gate segments, and the per-skill plans.
#include <algorithm>
#include <bit>
#include <cmath>

#include "core/console.h"
#include "core/constants.h"
#include "platform/vant.h"
#include "robots/lines.h"

namespace {

// Slack (ft) around the arc a line ends on within which the next line must start, and how far
// the next line's second point may drift off that arc.
constexpr double ARC_SLACK = 2.5;
constexpr double ARC_DRIFT = 2.0;
// The next line may start this much slower (ft/s) than the previous one ends.
constexpr double SPEED_DROP = 15.0;
constexpr double PARALLEL_CROSS = 1e-6;
constexpr double FAR_CENTRE = 1000000.0;
constexpr double UNTESTED_COST = 1000000.0;
constexpr double EXPLORED_COST = 100000.0;
constexpr double PENALTY_TICKS = 5.0 / SIM_STEP;

double horizontal_distance(double kx, double kz, const LinePoint& p) { return std::hypot(p.x - kx, p.z - kz); }

size_t cell(int k, int i, int e) { return (size_t(k) * LINE_SLOTS + size_t(i)) * LINE_SLOTS + size_t(e); }

}  // namespace

void lines_circle_centre(const LinePoint& p1, const LinePoint& p2, const LinePoint& p3, double& kx, double& kz) {
  // Perpendicular bisectors: d1 . X = d1 . M1 and d2 . X = d2 . M2.
  const double d1x = double(p2.x) - p1.x, d1z = double(p2.z) - p1.z;
  const double d2x = double(p3.x) - p2.x, d2z = double(p3.z) - p2.z;
  const double m1x = (double(p1.x) + p2.x) / 2, m1z = (double(p1.z) + p2.z) / 2;
  const double m2x = (double(p2.x) + p3.x) / 2, m2z = (double(p2.z) + p3.z) / 2;
  const double cross = d1x * d2z - d1z * d2x;
  if (std::fabs(cross) > PARALLEL_CROSS) {
    const double c1 = d1x * m1x + d1z * m1z, c2 = d2x * m2x + d2z * m2z;
    kx = (c1 * d2z - c2 * d1z) / cross;
    kz = (d1x * c2 - d2x * c1) / cross;
    return;
  }
  // On a straight: a centre far out along the last bisector, so the arc is nearly the line.
  double bx = -d2z, bz = d2x;
  if (bx == 0 && bz == 0) bx = -d1z, bz = d1x;
  const double length = std::hypot(bx, bz);
  if (length == 0) bx = 1, bz = 0;
  kx = m2x + (length > 0 ? bx / length : bx) * FAR_CENTRE;
  kz = m2z + (length > 0 ? bz / length : bz) * FAR_CENTRE;
}

bool lines_connected(const RacingLine& from, const RacingLine& to) {
  if (from.count <= 2 || to.count <= 1) return false;
  const LinePoint* end = from.points.data() + from.count - 3;
  const LinePoint &q1 = to.points[0], &q2 = to.points[1];
  if (std::fabs(end[2].speed) > std::fabs(q1.speed) + SPEED_DROP) return false;
  double kx, kz;
  lines_circle_centre(end[0], end[1], end[2], kx, kz);
  const double r = horizontal_distance(kx, kz, end[2]);
  const double d1 = horizontal_distance(kx, kz, q1), d2 = horizontal_distance(kx, kz, q2);
  const double inner = std::max(r - ARC_SLACK, 0.0);
  return inner * inner <= d1 * d1 && d1 * d1 <= (r + ARC_SLACK) * (r + ARC_SLACK) && std::fabs(d2 - d1) <= ARC_DRIFT;
}

double lines_cost(const RacingLine& line, int type) {
  const double r = line.tested, f = line.failures;
  const double failing = r + f > 0 ? f / (r + f) : 0.0;
  switch (type) {
    case 0:
      return r < 5 ? UNTESTED_COST : line.sum_a / r + std::clamp(failing, 0.0, 1.0) * PENALTY_TICKS;
    case 1:
      return r < 5 ? UNTESTED_COST : line.sum_a / r + std::clamp(failing * 1.1428572, 0.0, 1.0) * PENALTY_TICKS;
    case 2:
      return r < 1 ? UNTESTED_COST : line.sum_a / r + std::clamp(failing * 4, 0.0, 1.0) * PENALTY_TICKS;
    default: {
      // Exploration: lines that mostly fail are left alone, the least ridden are tried first.
      if (r + f > 5 && 4 * r < f) return EXPLORED_COST;
      const int k = std::bit_width(static_cast<uint64_t>(line.tested) + 4 * static_cast<uint64_t>(line.failures));
      return 1000.0 * (k < 1 ? k : k + 4);
    }
  }
}

void lines_connectivity_cost(int32_t first_row, int32_t row_count, int type, LineCosts& out) {
  out.first_row = first_row;
  out.row_count = row_count;
  out.rows.resize(size_t(row_count));
  out.cost.resize(size_t(row_count) * LINE_SLOTS);
  out.connected.assign(size_t(row_count) * LINE_SLOTS * LINE_SLOTS, 0);
  out.total.assign(size_t(row_count) * LINE_SLOTS * LINE_SLOTS, LINE_COST_UNREACHABLE);
  out.choice.assign(size_t(row_count) * LINE_SLOTS * LINE_SLOTS, -1);
  if (row_count <= 0) return;
  int32_t row = first_row;
  for (int k = 0; k < row_count; ++k, row = lines_next_row(row)) {
    out.rows[size_t(k)] = row;
    for (int i = 0; i < LINE_SLOTS; ++i) out.cost[size_t(k) * LINE_SLOTS + size_t(i)] = lines_cost(lines_slot(row, i), type);
  }
  for (int k = 0; k + 1 < row_count; ++k) {
    for (int i = 0; i < LINE_SLOTS; ++i) {
      const RacingLine& from = lines_slot(out.rows[size_t(k)], i);
      if (from.count <= 2) continue;
      for (int j = 0; j < LINE_SLOTS; ++j) {
        out.connected[cell(k, i, j)] = lines_connected(from, lines_slot(out.rows[size_t(k) + 1], j));
      }
    }
  }
  // Backwards from the last row, whose line i reaches only end line i.
  const int last = row_count - 1;
  for (int i = 0; i < LINE_SLOTS; ++i) out.total[cell(last, i, i)] = out.cost[size_t(last) * LINE_SLOTS + size_t(i)];
  for (int k = last - 1; k >= 0; --k) {
    for (int i = 0; i < LINE_SLOTS; ++i) {
      const double own = out.cost[size_t(k) * LINE_SLOTS + size_t(i)];
      for (int j = 0; j < LINE_SLOTS; ++j) {
        if (!out.connected[cell(k, i, j)]) continue;
        for (int e = 0; e < LINE_SLOTS; ++e) {
          const double next = out.total[cell(k + 1, j, e)];
          if (next >= LINE_COST_UNREACHABLE) continue;
          double& best = out.total[cell(k, i, e)];
          if (own + next < best) {
            best = own + next;
            out.choice[cell(k, i, e)] = static_cast<int8_t>(j);
          }
        }
      }
    }
  }
}

void lines_cheapest_totals(int32_t first_row, int32_t row_count, int type, double* out) {
  // Only the cheapest total over all end lines is asked for, so the chains keep one total per
  // line instead of one per line and end line: a sum rounds the same way for a smaller
  // addend, so the cheapest chain through each next line gives the cheapest overall.
  double next[LINE_SLOTS], own[LINE_SLOTS];
  for (int i = 0; i < LINE_SLOTS; ++i) out[i] = LINE_COST_UNREACHABLE;
  if (row_count <= 0) return;
  auto row_at = [&](int k) {
    int32_t row = first_row;
    for (int n = 0; n < k; ++n) row = lines_next_row(row);
    return row;
  };
  const int last = row_count - 1;
  int32_t later = row_at(last);
  for (int i = 0; i < LINE_SLOTS; ++i) {
    const double c = lines_cost(lines_slot(later, i), type);
    next[i] = c < LINE_COST_UNREACHABLE ? c : LINE_COST_UNREACHABLE;
  }
  for (int k = last - 1; k >= 0; --k) {
    const int32_t row = row_at(k);
    for (int i = 0; i < LINE_SLOTS; ++i) {
      const RacingLine& from = lines_slot(row, i);
      double best = LINE_COST_UNREACHABLE;
      if (from.count > 2) {
        const double cost = lines_cost(from, type);
        for (int j = 0; j < LINE_SLOTS; ++j) {
          if (next[j] >= LINE_COST_UNREACHABLE || !lines_connected(from, lines_slot(later, j))) continue;
          if (cost + next[j] < best) best = cost + next[j];
        }
      }
      own[i] = best;
    }
    std::copy(own, own + LINE_SLOTS, next);
    later = row;
  }
  std::copy(next, next + LINE_SLOTS, out);
}

namespace {

// Stores the chain from line `start` of the range's first row to end line `end` into the plan
// for the range's first `rows` rows.
void plan_walk(const LineCosts& costs, int start, int end, int rows, std::vector<int32_t>& plan) {
  int i = start;
  for (int k = 0; k < rows && i >= 0; ++k) {
    plan[size_t(costs.rows[size_t(k)])] = lines_slot(costs.rows[size_t(k)], i).line_id;
    i = k + 1 < costs.row_count ? costs.choice_at(k, i, end) : -1;
  }
}

}  // namespace

void lines_analyze() {
  if (!line_table.present) return;
  const int32_t a = line_table.first_lines, l = line_table.normal_lines;
  static LineCosts costs;
  for (int type = 0; type < LINE_PLAN_TYPES; ++type) {
    std::vector<int32_t>& plan = line_table.plan[type];
    std::fill(plan.begin(), plan.end(), 0);

    // Normal lap: a cycle through rows A .. A + L - 1 whose last line leads back into its first.
    lines_connectivity_cost(a, l, type, costs);
    int start = -1, start_end = -1;
    double lap = LINE_COST_UNREACHABLE;
    for (int f = 0; f < LINE_SLOTS; ++f) {
      for (int e = 0; e < LINE_SLOTS; ++e) {
        const double total = costs.total_at(0, f, e);
        if (total < lap && lines_connected(lines_slot(costs.rows[size_t(l) - 1], e), lines_slot(a, f))) {
          lap = total;
          start = f;
          start_end = e;
        }
      }
    }
    if (start >= 0) plan_walk(costs, start, start_end, l, plan);

    // First lap: rows 0 .. A - 1 continuing into the normal lap's first line (or any line of
    // row A when the lap has no closed chain).
    lines_connectivity_cost(0, a + 1, type, costs);
    int first = -1, first_end = -1;
    double first_lap = LINE_COST_UNREACHABLE;
    for (int w = 0; w < LINE_SLOTS; ++w) {
      for (int e = 0; e < LINE_SLOTS; ++e) {
        if (start >= 0 && e != start) continue;
        const double total = costs.total_at(0, w, e);
        if (total < first_lap) {
          first_lap = total;
          first = w;
          first_end = e;
        }
      }
    }
    if (first >= 0) {
      plan_walk(costs, first, first_end, a, plan);
      first_lap -= costs.cost[size_t(a) * LINE_SLOTS + size_t(first_end)];
    }
    if (debug_level != 0) {
      vant_log("First lap: %f\n", first_lap * SIM_STEP);
      vant_log("Normal lap: %f\n", lap * SIM_STEP);
    }
  }
}
