// Times the topologize stages on a large scribble and the batch runner against a serial loop.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "boundary/boundary.hpp"
#include "curves/curves.hpp"
#include "graph/graph.hpp"
#include "inflate/inflate.hpp"
#include "pipeline/driver_detail.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/vertex_tree.hpp"
#include "scribble.hpp"

namespace {

using linetopo::Point;
using linetopo::Polyline;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

using linetopo::bench::scribble;

void stage_breakdown(int strokes, int points) {
  const auto curves = scribble(1, strokes, points, 400.0);
  linetopo::TopologizeParams p;
  p.buffer_distance = 1.0;
  p.feature_size = 1.0;
  p.compute_widths = true;
  const double fs = p.feature_size;
  std::printf("stage breakdown, %d strokes x %d points = %d points\n", strokes, points,
              strokes * points);

  auto t = Clock::now();
  const auto merged = linetopo::merge_connected(curves, std::nullopt, p.buffer_distance, 0.01 * fs);
  const auto decimated = linetopo::decimate_curves(merged.curves, false, 0.15 * fs);
  const double t_merge = seconds_since(t);
  t = Clock::now();
  const auto inflated = linetopo::inflate(decimated, std::nullopt, p.buffer_distance, fs);
  const double t_inflate = seconds_since(t);
  t = Clock::now();
  const auto prepared = linetopo::preprocess_boundaries(inflated, fs, p.buffer_distance,
                                                        std::nullopt, std::nullopt, std::nullopt);
  const double t_prepare = seconds_since(t);
  t = Clock::now();
  linetopo::detail::RejectionCount rejections;
  auto triangulated = prepared;
  const auto segments = linetopo::detail::skeleton_segments(triangulated, inflated, p, &rejections);
  const double t_skeleton = seconds_since(t);
  t = Clock::now();
  auto graph = linetopo::segments_to_graph(segments, fs / 20);
  graph = linetopo::prune_short_tips(graph, 2.0 * fs);
  graph = linetopo::merge_close_junctions(graph, 1.5 * fs);
  const auto chains = linetopo::extract_chains(graph);
  const double t_graph = seconds_since(t);
  t = Clock::now();
  std::vector<Point> cloud;
  for (const auto& poly : triangulated) {
    cloud.insert(cloud.end(), poly.outer.begin(), poly.outer.end());
    for (const auto& h : poly.holes) cloud.insert(cloud.end(), h.begin(), h.end());
  }
  const auto tree = linetopo::detail::build_vertex_tree(cloud);
  std::size_t chain_points = 0;
  for (const auto& c : chains) {
    const auto f = linetopo::finish_chain(c, fs / 10);
    chain_points += f.points.size();
    linetopo::detail::widths_against(tree, f.points);
  }
  const double t_finish = seconds_since(t);
  t = Clock::now();
  const auto result = linetopo::topologize_inner(curves, p);
  const double t_total = seconds_since(t);

  const double sum = t_merge + t_inflate + t_prepare + t_skeleton + t_graph + t_finish;
  const auto row = [sum](const char* name, double s) {
    std::printf("  %-28s %8.3f s  %5.1f%%\n", name, s, 100.0 * s / sum);
  };
  row("merge + decimate", t_merge);
  row("inflate", t_inflate);
  row("prepare boundaries", t_prepare);
  row("triangulate + skeletonize", t_skeleton);
  row("graph + prune + merge + chains", t_graph);
  row("finishing + widths", t_finish);
  std::printf("  polygons %zu, rejected by the triangulation %zu, recovered %zu\n", prepared.size(),
              rejections.rejected, rejections.recovered);
  std::printf("  segments %zu, chains %zu, chain points %zu, boundary points %zu\n",
              segments.size(), chains.size(), chain_points, cloud.size());
  std::printf("  topologize_inner with widths  %8.3f s (%zu chains)\n", t_total,
              result.chains.size());
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

int main(int argc, char** argv) {
  const int strokes = argc > 1 ? std::atoi(argv[1]) : 200;
  stage_breakdown(strokes, 500);
  batch_speedup(64);
  return 0;
}
