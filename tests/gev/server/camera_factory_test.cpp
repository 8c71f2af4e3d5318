// createCamera through the shared library, as a program sees it, with each
// allocation of the construction failing in turn.
#include "gev_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

// Throwing allocations of this thread: counted while counting, and the one at
// t_FailAt (0-based) fails once.
thread_local bool t_Counting = false;
thread_local long t_Count = 0;
thread_local long t_FailAt = -1;

void* allocate(std::size_t size)
{
    if (t_Counting) {
        if (t_Count == t_FailAt) {
            t_Counting = false;
            throw std::bad_alloc();
        }
        ++t_Count;
    }
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

class Counting {
public:
    explicit Counting(long failAt)
    {
        t_Count = 0;
        t_FailAt = failAt;
        t_Counting = true;
    }
    ~Counting() { t_Counting = false; }
    Counting(const Counting&) = delete;
    Counting& operator=(const Counting&) = delete;
    long count() const { return t_Count; }
};

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
// Callers of the nothrow forms handle null themselves (std::stable_sort falls
// back to sorting in place): those are not counted.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

TEST(CreateCamera, FailedConstructionAnswersNull)
{
    // The first construction also builds the library's static tables: count a later one.
    delete createCamera();
    long allocations = 0;
    {
        Counting counting(-1);
        CGevCamera* camera = createCamera();
        allocations = counting.count();
        ASSERT_NE(camera, nullptr);
        delete camera;
    }
    ASSERT_GT(allocations, 1);

    // Each allocation in turn: the object itself (0), then its constructor's.
    for (long at = 0; at < allocations; ++at) {
        CGevCamera* camera = nullptr;
        {
            Counting counting(at);
            camera = createCamera();
        }
        EXPECT_EQ(camera, nullptr) << "allocation " << at << " of " << allocations << " failed";
        delete camera;
        if (camera != nullptr)
            break;
    }

    // Nothing of a failed construction stays behind to spoil the next one.
    CGevCamera* camera = createCamera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->AddCategory("C", nullptr), 0u);
    EXPECT_EQ(camera->AddRegisterFeature(2, "Gain", "C", 3, nullptr, 0), 0u);
    EXPECT_EQ(camera->SetIntegerValue("Gain", 5), 0u);
    int64_t value = 0;
    EXPECT_EQ(camera->GetIntegerValue("Gain", &value), 0u);
    EXPECT_EQ(value, 5);
    delete camera;
}

}  // namespace
