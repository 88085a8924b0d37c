// Where each strategy of the fast sum starts to pay, for each processor family
// and kernel set: one table, measured with the benchmark's tune_ runs, which
// print the entry for the processor at hand.
#ifndef PI_ESTIMATE_TUNING_H
#define PI_ESTIMATE_TUNING_H

#include <array>
#include <cstddef>

// A threshold of 0 uses a strategy wherever it applies; infinity never.
struct Tuning {
  double model_from_segment;        // blocks by the model where segments this many
                                    // samples long would keep its remainder within
                                    // target (else dividing blocks); beyond the
                                    // longest block, it asks for a smaller remainder
  double levels_from_span;          // level sums where a level spans this many samples
                                    // or more (and the samples never increase)
  double levels_model_from_segment; // level sums place levels' ends by the inverse
                                    // model where its segments hold this many levels
                                    // or more
  double count_from_span;           // blocks counted by levels where a level spans
                                    // this many samples or more (and the model pays)
  double count_deeper_from_span;    // counted blocks go two depths below the samples
                                    // where a level spans this many samples or
                                    // more, one depth elsewhere
  int levels_depth;                 // how many depths level sums count below the
                                    // levels' ends
  double ends_shallower_from_span;  // and one depth less where a level spans this
                                    // many samples or more
};

// A processor family: its vendor ("intel", "amd" or "" for another) and its
// family number as the processor reports it (AMD Zen 4 is 25, Zen 5 26).
struct Processor {
  const char *vendor;
  int family;
};

struct TuningEntry {
  const char *kernel_set; // as KernelSet::name
  Processor processor;    // a vendor of "" or a family of 0 stands for any
  Tuning tuning;
  const char *measured_on;
};

constexpr std::size_t tuning_entries = 8;

std::array<TuningEntry, tuning_entries> tuning_table();

// The processor this program runs on.
Processor this_processor();

// The tuning for a kernel set on a processor: its entry, else, for a processor
// that no entry names, the safest: each threshold the highest of the set's
// entries, so that a strategy is used only where it paid on every processor
// measured.
Tuning tuning_for(const char *kernel_set, Processor processor);

#endif
