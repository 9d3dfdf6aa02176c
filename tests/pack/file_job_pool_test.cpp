// Lending FileJobs out and taking them back.
#include "pack/file_job_pool.h"

#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "support/resident_pages.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

TEST(FileJobPoolTest, LendsEachJobOnceUntilItComesBack)
{
    FileJobPool pool(3, 0);
    ASSERT_EQ(pool.Size(), 3u);
    std::vector<FileJobPool::Lease> leases;
    std::set<FileJob*> distinct;
    for (int i = 0; i < 3; ++i) {
        leases.push_back(pool.Take());
        ASSERT_TRUE(leases.back());
        distinct.insert(leases.back().get());
    }
    EXPECT_EQ(distinct.size(), 3u);
    EXPECT_FALSE(pool.Take());

    FileJob* returned = leases[1].get();
    leases[1].reset();
    FileJobPool::Lease again = pool.Take();
    EXPECT_EQ(again.get(), returned);
    EXPECT_FALSE(pool.Take());
}

TEST(FileJobPoolTest, AJobComesBackSmall)
{
    testing::TempDir dir;
    // Incompressible, so that its bytes are stored from the job's buffer.
    const std::string large = dir.Write("large", testing::RandomBytes(3 * 1024 * 1024, 2)).string();
    constexpr std::size_t kept = 64 * 1024;
    FileJobPool pool(1, kept);
    FileJob* job;
    {
        FileJobPool::Lease lease = pool.Take();
        job = lease.get();
        ASSERT_TRUE(job->Load(large));
        EXPECT_GT(testing::ResidentPages(job->storedBytes.data() + kept, 2 * 1024 * 1024), 0u);
    }
    EXPECT_EQ(testing::ResidentPages(job->storedBytes.data() + kept, 2 * 1024 * 1024), 0u);
}

}  // namespace
}  // namespace zelkor
