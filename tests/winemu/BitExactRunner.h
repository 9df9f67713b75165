// Runs instruction cases in a test module and natively, in batches, and
// expects both to leave the same bytes; the mismatches are counted by
// instruction and the first two of each described.
#pragma once

#include "ModuleFixture.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

template <typename Case, typename Result, typename RunNative, typename Describe>
void expect_same_as_host(uint32 run, const std::vector<Case>& cases, size_t batch,
                         RunNative runNative, Describe describe, const char* const* opNames)
{
    auto* moduleCases = static_cast<Case*>(module_malloc(batch * sizeof(Case)));
    auto* moduleResults = static_cast<Result*>(module_malloc(batch * sizeof(Result)));
    ASSERT_NE(moduleCases, nullptr);
    ASSERT_NE(moduleResults, nullptr);
    std::vector<Result> native(batch);

    std::map<std::string, size_t> mismatchesByOp;
    std::string examples;
    size_t mismatches = 0;
    for (size_t start = 0; start < cases.size(); start += batch) {
        uint32 count = uint32(std::min(batch, cases.size() - start));
        memcpy(moduleCases, &cases[start], count * sizeof(Case));
        memset(moduleResults, 0, batch * sizeof(Result));
        uint32 done = 0;
        ASSERT_EQ(call_module(run,
                              {module_address(moduleCases), count, module_address(moduleResults)},
                              &done),
                  B_OK);
        ASSERT_EQ(done, count);
        runNative(&cases[start], count, native.data());
        for (uint32 i = 0; i < count; i++) {
            if (memcmp(&moduleResults[i], &native[i], sizeof(Result)) == 0)
                continue;
            const Case& c = cases[start + i];
            if (mismatchesByOp[opNames[c.op]]++ < 2 && examples.size() < 20000)
                examples += describe(c, moduleResults[i], native[i]);
            mismatches++;
        }
    }
    module_free(moduleCases);
    module_free(moduleResults);

    std::string summary;
    for (const auto& [op, count] : mismatchesByOp)
        summary += op + ": " + std::to_string(count) + "\n";
    EXPECT_EQ(mismatches, 0u) << "of " << cases.size() << " cases, by instruction:\n"
                              << summary << examples;
}
