// Stands in for lookup_tarvo.cpp when the benchmark is built without our
// library (TARVO_LOOKUP_BENCH_OURS=OFF): the peers are measured alone.
#include "lookup_bench.h"

#include <cstdio>

namespace lookup_bench {

void addTarvoRows(const Workload&, const std::vector<std::string>& dictPaths, std::vector<Row>&)
{
    if (!dictPaths.empty())
        std::fprintf(stderr, "lookup_bench: built without libtarvo; %zu dictionary file(s) ignored\n",
                     dictPaths.size());
}

} // namespace lookup_bench
