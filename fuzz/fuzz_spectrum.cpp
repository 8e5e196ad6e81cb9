// Spectrum arithmetic on arbitrary channel counts and values: sums, rebinning
// additions between spectra of different sizes, copies, dead time.
#include <spectrum.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>

namespace {

QVector<int> channels(FuzzedDataProvider& in)
{
    const int n = in.ConsumeIntegralInRange<int>(0, 20000);
    QVector<int> v(n);
    const int pattern = in.ConsumeIntegral<int>();
    for (int i = 0; i < n; ++i)
        v[i] = in.remaining_bytes() >= 4 ? in.ConsumeIntegral<int>() : pattern ^ i;
    return v;
}

int wrappedSum(const QVector<int>& v)
{
    unsigned int s = 0;
    for (int x : v)
        s += static_cast<unsigned int>(x);
    return static_cast<int>(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned int live = in.ConsumeIntegral<unsigned int>();
    const unsigned int clock = in.ConsumeIntegral<unsigned int>();
    Spectrum a(channels(in), live, clock, in.ConsumeIntegral<unsigned int>(),
               in.ConsumeIntegral<unsigned int>(), in.ConsumeFloatingPoint<float>());
    Spectrum b(channels(in), in.ConsumeIntegral<unsigned int>(), in.ConsumeIntegral<unsigned int>(),
               0, 0, 0);
    Spectrum sized(in.ConsumeIntegralInRange<unsigned long>(0, 20000));

    const float dead = a.deadTime();
    if (clock != 0 && live <= clock && !(dead >= 0 && dead <= 100))
        std::abort();
    if (a.sum() != wrappedSum(a.data()))
        std::abort();

    const int before = a.data().size();
    Spectrum copy(a);
    copy += b;
    copy += sized;
    copy += copy;
    if (copy.data().size() != before || copy.sum() != wrappedSum(copy.data()))
        std::abort();
    b += a;
    sized += a;
    a = copy;
    a.clear();
    if (a.sum() != 0 || a.data().size() != before)
        std::abort();
    a.setData(b.data());
    if (a.sum() != b.sum())
        std::abort();
    return 0;
}
