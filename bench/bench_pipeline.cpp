// Times the topologize stages on a large scribble and the batch runner against a serial loop.
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "boundary/boundary.hpp"
#include "chains/chains.hpp"
#include "chains/vertex_tree.hpp"
#include "curves/curves.hpp"
#include "graph/graph.hpp"
#include "inflate/inflate.hpp"
#include "pipeline/driver_detail.hpp"
#include "pipeline/pipeline.hpp"
#include "scribble.hpp"

namespace {

using linetopo::Point;
using linetopo::Polyline;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// CPU time of the whole process, every thread: beside a stage's wall time, the cores it kept busy.
double process_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A stage's wall time and CPU time.
struct Timer {
  Clock::time_point wall = Clock::now();
  double cpu = process_seconds();
  struct Span {
    double wall, cpu;
  };
  Span lap() {
    const Span s{seconds_since(wall), process_seconds() - cpu};
    wall = Clock::now();
    cpu = process_seconds();
    return s;
  }
};

using linetopo::bench::scribble;

// Curves written by bench/write_curves.py: a line "buffer feature_size", then one curve per
// line as "x y x y ...".
std::vector<Polyline> read_curves(const char* path, double& buffer, double& feature_size) {
  std::ifstream in(path);
  std::vector<Polyline> curves;
  std::string line;
  if (!std::getline(in, line)) return curves;
  std::istringstream(line) >> buffer >> feature_size;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    Polyline c;
    double x = 0.0;
    double y = 0.0;
    while (words >> x >> y) c.push_back({x, y});
    curves.push_back(std::move(c));
  }
  return curves;
}

void stage_breakdown(const std::vector<Polyline>& curves, double buffer, double feature_size) {
  linetopo::TopologizeParams p;
  p.buffer_distance = buffer;
  p.feature_size = feature_size;
  p.compute_widths = true;
  const linetopo::Settings s = linetopo::resolve(p);
  std::size_t points = 0;
  for (const auto& c : curves) points += c.size();
  std::printf("stage breakdown, %zu curves, %zu points\n", curves.size(), points);

  Timer t;
  const auto merged =
      linetopo::merge_connected(curves, std::nullopt, s.buffer_distance, s.merge_tolerance);
  const auto decimated = linetopo::decimate_curves(merged.curves, false, s.decimation_spacing);
  const auto t_merge = t.lap();
  const auto inflated =
      linetopo::inflate(decimated, std::nullopt, s.buffer_distance, s.inflation);
  const auto t_inflate = t.lap();
  const auto prepared = linetopo::preprocess_boundaries(inflated, s.boundary);
  const auto t_prepare = t.lap();
  linetopo::detail::RejectionCount rejections;
  auto triangulated = prepared;
  auto skeletons =
      linetopo::detail::polygon_skeletons(triangulated, inflated, s.boundary, &rejections);
  const auto t_skeleton = t.lap();
  std::size_t segments = 0;
  for (const auto& k : skeletons) segments += k.segments.size();
  t.lap();
  const bool apart = linetopo::weld_neighbours(skeletons, s.weld_tolerance).apart;
  const auto t_apart = t.lap();
  const auto chains = linetopo::detail::skeleton_chains(std::move(skeletons), s, {});
  const auto t_graph = t.lap();
  std::vector<Point> cloud;
  for (const auto& poly : triangulated) {
    cloud.insert(cloud.end(), poly.outer.begin(), poly.outer.end());
    for (const auto& h : poly.holes) cloud.insert(cloud.end(), h.begin(), h.end());
  }
  const auto tree = linetopo::detail::build_vertex_tree(cloud);
  std::size_t chain_points = 0;
  for (const auto& c : chains) {
    const auto f = linetopo::finish_chain(c, s.simplification);
    chain_points += f.points.size();
    linetopo::detail::widths_against(tree, f.points);
  }
  const auto t_finish = t.lap();
  const auto result = linetopo::topologize_inner(curves, p);
  const auto t_total = t.lap();

  const double sum = t_merge.wall + t_inflate.wall + t_prepare.wall + t_skeleton.wall +
                     t_graph.wall + t_finish.wall;
  std::printf("  %-28s %8s    %6s  %s\n", "stage", "wall", "share", "cores busy (CPU / wall)");
  const auto row = [sum](const char* name, Timer::Span span) {
    std::printf("  %-28s %8.3f s  %5.1f%%  %4.2f\n", name, span.wall, 100.0 * span.wall / sum,
                span.cpu / span.wall);
  };
  row("merge + decimate", t_merge);
  row("inflate", t_inflate);
  row("prepare boundaries", t_prepare);
  row("triangulate + skeletonize", t_skeleton);
  row("weld + prune + merge + chains", t_graph);
  row("  of which the weld-neighbour check", t_apart);
  row("finishing + widths", t_finish);
  std::printf("  polygons %zu, rings met before triangulating %zu, rejected by the triangulation "
              "%zu, recovered %zu\n",
              prepared.size(), rejections.crossed, rejections.rejected, rejections.recovered);
  std::printf("  skeletons weld apart: %s\n", apart ? "yes" : "no");
  std::printf("  segments %zu, chains %zu, chain points %zu, boundary points %zu\n", segments,
              chains.size(), chain_points, cloud.size());
  std::printf("  topologize_inner with widths  %8.3f s, %4.2f cores busy (%zu chains)\n",
              t_total.wall, t_total.cpu / t_total.wall, result.chains.size());
}

void batch_speedup(int jobs) {
  std::vector<linetopo::BatchJob> batch;
  for (int i = 0; i < jobs; ++i) {
    linetopo::TopologizeParams p;
    p.buffer_distance = 1.0;
    p.feature_size = 1.0;
    batch.push_back({scribble(100 + i, 20, 150 + 10 * (i % 7), 60.0), p});
  }
  auto t = Clock::now();
  for (const auto& job : batch) linetopo::topologize_inner(job.curves, job.params);
  const double serial = seconds_since(t);
  t = Clock::now();
  linetopo::run_batch(batch);
  const double parallel = seconds_since(t);
  std::printf("batch of %d jobs: serial %.3f s, run_batch %.3f s, speed-up %.2fx\n", jobs, serial,
              parallel, serial / parallel);
}

}  // namespace

// Usage: bench_pipeline [STROKES | CURVES_FILE]
int main(int argc, char** argv) {
  const char* arg = argc > 1 ? argv[1] : "200";
  if (std::isdigit(static_cast<unsigned char>(arg[0]))) {
    stage_breakdown(scribble(1, std::atoi(arg), 500, 400.0), 1.0, 1.0);
    batch_speedup(64);
  } else {
    double buffer = 1.0;
    double feature_size = 1.0;
    const auto curves = read_curves(arg, buffer, feature_size);
    stage_breakdown(curves, buffer, feature_size);
  }
  return 0;
}
