// deriveKey (our MD5, 1000 rounds) against the same PBKDF1-MD5 on OpenSSL's
// MD5, in one run; the ratio of the two is printed at the end.
#include "keys/md5.h"
#include "keys/password.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint8_t salt[8] = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x85};
const char* const password = "TideWell";

// The method is fetched and the context made once, so the figure is the
// digest work, not OpenSSL's per-call lookups and allocations.
struct OpensslMd5 {
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~OpensslMd5()
    {
        EVP_MD_CTX_free(context);
        EVP_MD_free(md);
    }
    void digest(const uint8_t* bytes, size_t length, uint8_t out[16])
    {
        EVP_DigestInit_ex(context, md, nullptr);
        EVP_DigestUpdate(context, bytes, length);
        EVP_DigestFinal_ex(context, out, nullptr);
    }
};

void opensslPbkdf1(OpensslMd5& md5, const char* pw, uint8_t key[8])
{
    uint8_t message[24 + 8];
    const size_t length = std::strlen(pw);
    std::memcpy(message, pw, length);
    std::memcpy(message + length, salt, sizeof salt);
    uint8_t d[16];
    md5.digest(message, length + sizeof salt, d);
    for (int i = 1; i < 1000; ++i)
        md5.digest(d, sizeof d, d);
    for (int i = 0; i < 8; ++i) {
        const int ones = __builtin_popcount(d[i] & 0xFE);
        key[i] = ones % 2 != 0 ? uint8_t(d[i] & 0xFE) : uint8_t(d[i] | 1);
    }
}

void deriveKeyOurs(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(deriveKey(password));
    state.SetItemsProcessed(state.iterations());
}

void deriveKeyOpenssl(benchmark::State& state)
{
    OpensslMd5 md5;
    uint8_t key[8];
    for (auto _ : state) {
        opensslPbkdf1(md5, password, key);
        benchmark::DoNotOptimize(key);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(deriveKeyOurs)->Unit(benchmark::kMicrosecond);
BENCHMARK(deriveKeyOpenssl)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per key (the median when repetitions are asked
// for) to print the ratio after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Figures {
        double real = 0;
        double cpu = 0;
        bool median = false;
    };

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            Figures& f = perKey[run.run_name.function_name];
            const bool isMedian = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (isMedian || (run.run_type == Run::RT_Iteration && run.iterations > 0 && !f.median))
                f = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime(), isMedian};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, Figures> perKey;  // microseconds
};

}  // namespace

int main(int argc, char** argv)
{
    uint8_t reference[8];
    {
        OpensslMd5 md5;
        opensslPbkdf1(md5, password, reference);
    }
    if (std::memcmp(reference, deriveKey(password), 8) != 0) {
        std::fprintf(stderr, "derive_key_bench: deriveKey and the OpenSSL reference disagree\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const RatioReporter::Figures ours = reporter.perKey["deriveKeyOurs"];
    const RatioReporter::Figures theirs = reporter.perKey["deriveKeyOpenssl"];
    if (theirs.real > 0 && theirs.cpu > 0)
        std::printf("deriveKey / OpenSSL PBKDF1-MD5: real time ratio %.2f (%.1f us vs %.1f us per key), "
                    "CPU time ratio %.2f (%.1f us vs %.1f us)\n",
                    ours.real / theirs.real, ours.real, theirs.real, ours.cpu / theirs.cpu, ours.cpu, theirs.cpu);
    return 0;
}
