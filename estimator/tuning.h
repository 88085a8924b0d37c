// Where each strategy of the fast sum starts to pay, for each processor family
// and kernel set: one table, measured with the benchmark's tune_ runs, which
// print the entry for the processor at hand; and the rule that fills in what the
// table does not say.
#ifndef PI_ESTIMATE_TUNING_H
#define PI_ESTIMATE_TUNING_H

#include <array>
#include <cstddef>

// A threshold or depth that nobody measured. It is never handed to a sum:
// tuning_for() puts a measured value in its place.
constexpr int unmeasured = -1;

// A threshold of 0 uses a strategy wherever it applies; infinity never. Every
// field starts unmeasured, so that an entry says by name each value it sets.
struct Tuning {
  double model_from_segment = unmeasured;        // blocks by the model where segments this
                                                 // many samples long would keep its
                                                 // remainder within target (else dividing
                                                 // blocks); beyond the longest block, it
                                                 // asks for a smaller remainder
  double levels_from_span = unmeasured;          // level sums where a level spans this many
                                                 // samples or more (and the samples never
                                                 // increase)
  double levels_model_from_segment = unmeasured; // level sums place levels' ends by the
                                                 // inverse model where its segments hold
                                                 // this many levels or more
  double count_from_span = unmeasured;           // blocks counted by levels where a level
                                                 // spans this many samples or more (and
                                                 // the model pays)
  double count_deeper_from_span = unmeasured;    // counted blocks go two depths below the
                                                 // samples where a level spans this many
                                                 // samples or more, one depth elsewhere
  int levels_depth = unmeasured;                 // how many depths level sums count below
                                                 // the levels' ends
  double ends_shallower_from_span = unmeasured;  // and one depth less where a level spans
                                                 // this many samples or more
};

// Every threshold never: dividing blocks alone. Tunings that force a strategy
// start from it and set their fields by name.
Tuning dividing_only();

// A processor family: its vendor ("intel", "amd" or "" for another) and its
// family number as the processor reports it (AMD Zen 4 is 25, Zen 5 26).
struct Processor {
  const char *vendor;
  int family;
};

struct TuningEntry {
  const char *kernel_set; // as KernelSet::name
  Processor processor;    // a vendor of "" or a family of 0 stands for any
  Tuning tuning;          // what was measured there; the rest unmeasured
  const char *measured_on;
};

constexpr std::size_t tuning_entries = 6;

std::array<TuningEntry, tuning_entries> tuning_table();

// The kernel set whose measurements serve a set that has none of its own (generic
// and unfused take SSE2's, tuning.cpp says why), or nullptr.
const char *measured_like(const char *kernel_set);

// The processor this program runs on.
Processor this_processor();

// What the table measured for a kernel set on a processor: the first entry that
// names it, else every value unmeasured.
Tuning measured_for(const char *kernel_set, Processor processor);

// The tuning for a kernel set on a processor: the entry that names it, with each
// value that was not measured there, and every value for a processor that no
// entry names, the safest measured for the set: the highest threshold, so that
// a strategy (and a depth less) is used only where it paid on every processor
// measured, and the fewest depths. A value that the set never measured takes
// that of measured_like()'s set; one that neither measured, dividing blocks'.
Tuning tuning_for(const char *kernel_set, Processor processor);

#endif
