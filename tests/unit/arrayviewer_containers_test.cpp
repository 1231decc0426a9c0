// The graph's containers and value plumbing: the pointer list, the series, the transform and
// the attachment of layers and zoom scales to a viewer.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "arrayviewer/layer.h"
#include "arrayviewer/pointer_list.h"
#include "arrayviewer/scalar_transform.h"
#include "arrayviewer/values.h"
#include "arrayviewer_test_support.h"

namespace {

using namespace ArrayViewer;
using ArrayViewerTest::FakeViewer;
using ArrayViewerTest::ThrownText;

struct Counted {
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() { ++*deaths; }
    int* deaths;
};

TEST(PointerList, GrowsByFiveSlotsAndChecksIndices) {
    PointerList<int> list(5, false);
    std::vector<int> items(11);
    EXPECT_EQ(list.capacity(), 0);
    list.Add(&items[0]);
    EXPECT_EQ(list.capacity(), 5);
    for (int i = 1; i < 6; ++i) {
        list.Add(&items[i]);
    }
    EXPECT_EQ(list.capacity(), 10);
    for (int i = 6; i < 11; ++i) {
        list.Add(&items[i]);
    }
    EXPECT_EQ(list.capacity(), 15);
    ASSERT_EQ(list.GetCount(), 11u);
    for (uint32_t i = 0; i < 11; ++i) {
        EXPECT_EQ(list.Get(i), &items[i]);
    }
    EXPECT_EQ(ThrownText([&] { list.Get(11); }), "list index out of bounds");
    EXPECT_EQ(ThrownText([&] { list.Get(static_cast<uint32_t>(-1)); }), "list index out of bounds");
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.capacity(), 0);
    EXPECT_EQ(ThrownText([&] { list.Get(0); }), "list index out of bounds");
}

TEST(PointerList, DeletesItemsOnlyWhenItOwnsThem) {
    int deaths = 0;
    Counted kept(&deaths);
    {
        PointerList<Counted> borrowing(5, false);
        borrowing.Add(&kept);
        borrowing.Clear();
        borrowing.Add(&kept);
    }
    EXPECT_EQ(deaths, 0);
    {
        PointerList<Counted> owning(5, true);
        owning.Add(new Counted(&deaths));
        owning.Add(nullptr);
        owning.Add(new Counted(&deaths));
        owning.Clear();
        EXPECT_EQ(deaths, 2);
        owning.Add(new Counted(&deaths));
    }
    EXPECT_EQ(deaths, 3);
}

TEST(ScalarValues1D, ReadsThroughTheStartOffset) {
    std::vector<double> storage(400);
    for (int i = 0; i < 400; ++i) {
        storage[i] = i;
    }
    ScalarValues1D<double> series(storage.data(), 400);
    EXPECT_EQ(series.GetCount(), 400);
    EXPECT_EQ(series.GetValue(0), 0.0);
    EXPECT_EQ(series.GetValue(399), 399.0);

    series.SetStartOffset(10);
    EXPECT_EQ(series.GetValue(0), 10.0);
    EXPECT_EQ(series.GetValue(395), 5.0);

    series.SetStartOffset(-1);
    EXPECT_EQ(series.GetValue(0), 399.0);
    EXPECT_EQ(series.GetValue(1), 0.0);

    // Offsets and indices beyond one turn still wrap instead of reading outside the storage.
    series.SetStartOffset(-401);
    EXPECT_EQ(series.GetValue(0), 399.0);
    EXPECT_EQ(series.GetValue(-1), 398.0);
    EXPECT_EQ(series.GetValue(800), 399.0);

    // The series is a view: it shows what the owner writes later.
    storage[5] = -7.5;
    ScalarValues1D<double> view(storage.data(), 400);
    EXPECT_EQ(view.GetValue(5), -7.5);

    ScalarValues1D<double> empty(nullptr, 400);
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(empty.GetValue(3), 0.0);
}

// Run under ThreadSanitizer this proves the reads free of data races; everywhere it checks
// that every value read is one that the writer wrote whole.
TEST(ScalarValues1D, ReadsWhileAnotherThreadWritesSeeOnlyWrittenValues) {
    constexpr double kA = 1.0 / 3.0;
    constexpr double kB = -123456.789e100;
    std::vector<double> histogram(400, kA);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop.load(); ++round) {
            for (double& bin : histogram) {
                StoreShared(bin, round % 2 == 0 ? kB : kA);
            }
        }
    });
    ScalarValues1D<double> series(histogram.data(), 400);
    int strange = 0;
    for (int pass = 0; pass < 200; ++pass) {
        series.Lock();
        for (int i = 0; i < series.GetCount(); ++i) {
            double v = series.GetValue(i);
            strange += (v != kA && v != kB);
        }
        series.Unlock();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(strange, 0);
}

TEST(LinearScalarTransformScale, WidensTheRangeByTenPercentUntilItIsSet) {
    LinearScalarTransformScale unit(0, 1);
    EXPECT_NEAR(unit.rangeMin, -0.05, 1e-15);
    EXPECT_NEAR(unit.rangeMax, 1.05, 1e-15);
    EXPECT_FALSE(unit.degenerate);
    EXPECT_NEAR(unit.Transform(0.5), 0.5, 1e-15);
    EXPECT_NEAR(unit.Transform(-0.05), 0.0, 1e-15);
    EXPECT_NEAR(unit.Transform(1.05), 1.0, 1e-15);

    LinearScalarTransformScale wide(-2, 2);
    EXPECT_NEAR(wide.rangeMin, -2.2, 1e-15);
    EXPECT_NEAR(wide.rangeMax, 2.2, 1e-15);

    wide.SetRange(3, 5);
    EXPECT_EQ(wide.rangeMin, 3.0);
    EXPECT_EQ(wide.rangeMax, 5.0);
    EXPECT_DOUBLE_EQ(wide.Transform(4), 0.5);
    EXPECT_DOUBLE_EQ(wide.Transform(6), 1.5);

    LinearScalarTransformScale flat(2, 2);
    EXPECT_TRUE(flat.degenerate);
    EXPECT_EQ(flat.Transform(7), 0.5);
}

class TestLayer : public Array {
  public:
    void Paint(DrawContext&) override {}
};

// Layers and zoom scales share the rule: one viewer for life.
template <typename T>
void CheckAttachment(T& object) {
    FakeViewer first;
    FakeViewer second;
    object.Attach(&first);
    EXPECT_EQ(ThrownText([&] { object.Attach(&second); }), "unknown exception");
    EXPECT_EQ(object.viewer(), &first);
    EXPECT_EQ(ThrownText([&] { object.Detach(&second); }), "unknown exception");
    EXPECT_EQ(object.viewer(), &first);
    object.Detach(&first);
    EXPECT_EQ(object.viewer(), nullptr);
    object.Attach(&second);
    EXPECT_EQ(object.viewer(), &second);
    object.Detach(&second);
}

TEST(ViewerLink, AttachesOnceAndDetachesOnlyFromItsViewer) {
    TestLayer layer;
    CheckAttachment(layer);
    EmptyZoomScale zoom;
    CheckAttachment(zoom);
}

TEST(EmptyZoomScale, ShowsTheWholeSeriesAndIgnoresInput) {
    EmptyZoomScale zoom;
    EXPECT_EQ(zoom.GetStart(), 0.0);
    EXPECT_EQ(zoom.GetEnd(), 1.0);
    EXPECT_EQ(zoom.GetStartX(), 0.0);
    EXPECT_EQ(zoom.GetStartY(), 0.0);
    EXPECT_EQ(zoom.GetEndX(), 1.0);
    EXPECT_EQ(zoom.GetEndY(), 1.0);
    WindowMessage click{0x0201, 0, 0};
    EXPECT_FALSE(zoom.ProcessInput(click));
    Rect r{1, 2, 3, 4};
    EXPECT_EQ(zoom.AdjustArea(r), r);
}

}  // namespace
