// Numbered names of saved pictures and recordings: the smallest free number from 0, the
// names that do not count as taken, folder creation, and exclusive creation when several
// writers share a folder.
#include "capture/NumberedFiles.h"
#include "common/FolderProbe.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestPaths.h"
#include "tests/support/VistaListing.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

using testsupport::TempFolder;

namespace {

TEST(UniqueFileNameTest, SmallestFreeNumberFromZeroWithoutLeadingZeros) {
    TempFolder dir(L"ufn");
    const std::wstring tpl = dir.Path() + L"image_kv_.jpg";
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_0.jpg");
    dir.Touch(L"image_kv_0.jpg");
    dir.Touch(L"image_kv_1.jpg");
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_2.jpg");
    for (int i = 2; i < 10; ++i) dir.Touch(L"image_kv_" + std::to_wstring(i) + L".jpg");
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_10.jpg");
    // A freed number is used again.
    ASSERT_TRUE(::DeleteFileW((dir.Path() + L"image_kv_0.jpg").c_str()));
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_0.jpg");
    ASSERT_TRUE(::DeleteFileW((dir.Path() + L"image_kv_4.jpg").c_str()));
    dir.Touch(L"image_kv_0.jpg");
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_4.jpg");
}

TEST(UniqueFileNameTest, OnlyTheExactNumberedNameTakesANumber) {
    TempFolder dir(L"ufn");
    const std::wstring tpl = dir.Path() + L"image_kv_.jpg";
    // Look-alikes leave 0 free.
    for (const wchar_t* name :
         {L"image_kv_00.jpg", L"image_kv_01.jpg", L"image_kv_0.jpeg", L"image_kv_0.jpg.bak",
          L"image_kv_x.jpg", L"image_kv_.jpg", L"image_kv_-0.jpg", L"other_0.jpg", L"image_kv_0"})
        dir.Touch(name);
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_0.jpg");
    // File names do not differ by case; a folder of that name is taken too (no file of
    // that name can be made).
    dir.Touch(L"IMAGE_KV_0.JPG");
    ASSERT_TRUE(::CreateDirectoryW((dir.Path() + L"image_kv_1.jpg").c_str(), nullptr));
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_2.jpg");
    // A huge number does not hide the small free ones.
    dir.Touch(L"image_kv_999999999.jpg");
    dir.Touch(L"image_kv_99999999999999999999.jpg");
    EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"image_kv_2.jpg");
}

TEST(UniqueFileNameTest, TemplateWithoutExtensionOrBase) {
    TempFolder dir(L"ufn");
    dir.Touch(L"clip0");
    EXPECT_EQ(UniqueFileName(dir.Path() + L"clip"), dir.Path() + L"clip1");
    dir.Touch(L"0.avi");
    EXPECT_EQ(UniqueFileName(dir.Path() + L".avi"), dir.Path() + L"1.avi");
}

TEST(UniqueFileNameTest, MissingFoldersAreCreatedWithTheirParents) {
    TempFolder dir(L"ufn");
    const std::wstring deep = dir.Path() + L"a\\b c\\d";
    EXPECT_EQ(UniqueFileName(deep + L"\\image_kv_.jpg"), deep + L"\\image_kv_0.jpg");
    const DWORD attr = ::GetFileAttributesW(deep.c_str());
    ASSERT_NE(attr, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attr & FILE_ATTRIBUTE_DIRECTORY);
    // Forward slashes name folders too.
    const std::wstring slashed = dir.Path() + L"e/f/";
    EXPECT_EQ(UniqueFileName(slashed + L"v_.wmv"), slashed + L"v_0.wmv");
    EXPECT_TRUE(dir.Has(L"e\\f"));
}

TEST(UniqueFileNameTest, TemplateWithoutFolderNamesAFileBesideTheProgram) {
    const std::wstring bin = testsupport::TestBinDir();
    const std::wstring name = L"ufn_probe_" + std::to_wstring(::GetCurrentProcessId()) + L"_";
    EXPECT_EQ(UniqueFileName(name + L".tmp"), bin + name + L"0.tmp");
}

TEST(UniqueFileNameTest, SplitKeepsTheSeparatorWithTheFolderAndTheLastDotWithTheExtension) {
    const TFileNameParts p = SplitFileTemplate(L"C:\\pics.d\\image_kv_.v2.jpg");
    EXPECT_EQ(p.Folder, L"C:\\pics.d\\");
    EXPECT_EQ(p.Base, L"image_kv_.v2");
    EXPECT_EQ(p.Ext, L".jpg");
    const TFileNameParts q = SplitFileTemplate(L"C:\\pics.d\\noext");
    EXPECT_EQ(q.Folder, L"C:\\pics.d\\");
    EXPECT_EQ(q.Base, L"noext");
    EXPECT_EQ(q.Ext, L"");
}

// Writers racing for the same folder each get a name of their own, and every number up
// to the count of files is used: a name that appeared between the listing and the
// creation makes the writer take the next one instead of failing or overwriting.
TEST(UniqueFileNameTest, ConcurrentWritersNeverShareOrOverwriteAFile) {
    TempFolder dir(L"ufn");
    const std::wstring tpl = dir.Path() + L"image_kv_.jpg";
    constexpr int kThreads = 6, kEach = 15;
    std::vector<std::vector<std::wstring>> got(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                std::wstring name;
                DWORD error = 0;
                fw::Handle file = CreateUniqueFile(tpl, name, error);
                if (!file) {
                    ++failures[t];
                    continue;
                }
                DWORD n = 0;
                const char mark = static_cast<char>('A' + t);
                ::WriteFile(file.get(), &mark, 1, &n, nullptr);
                got[t].push_back(name);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::wstring> all;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0);
        for (const auto& n : got[t]) EXPECT_TRUE(all.insert(n).second) << "twice: " << n.c_str();
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    for (int i = 0; i < kThreads * kEach; ++i)
        EXPECT_TRUE(dir.Has(L"image_kv_" + std::to_wstring(i) + L".jpg")) << i;
    // Each file holds exactly the one byte of the writer that made it.
    for (int t = 0; t < kThreads; ++t) {
        for (const auto& n : got[t]) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            ASSERT_TRUE(::GetFileAttributesExW(n.c_str(), GetFileExInfoStandard, &data));
            EXPECT_EQ(data.nFileSizeLow, 1u);
        }
    }
}

// The listing as Vista answers it, and one that fails: a failed look never counts as a
// free name. Folders are looked at without the system's "no disk" boxes.
TEST(UniqueFileNameTest, VistaListsThePlainWayAndAFailedListingGivesNoName) {
    TempFolder dir(L"ufn");
    const std::wstring tpl = dir.Path() + L"video_kv_.wmv";
    dir.Touch(L"video_kv_0.wmv");
    dir.Touch(L"video_kv_1.wmv");
    struct Seam {
        explicit Seam(FindFirstFileExFn f) { FindFirstFileExRoutine = f; }
        ~Seam() { FindFirstFileExRoutine = &::FindFirstFileExW; }
    };
    {
        Seam vista(&testsupport::VistaFindFirstFileEx);
        testsupport::ListingsWithErrorBoxes = 0;
        EXPECT_EQ(UniqueFileName(tpl), dir.Path() + L"video_kv_2.wmv");
        EXPECT_EQ(testsupport::ListingsWithErrorBoxes, 0);
    }
    {
        Seam denied(&testsupport::DeniedFindFirstFileEx);
        EXPECT_EQ(UniqueFileName(tpl), L"");
        std::wstring name = L"stale";
        DWORD error = 0;
        EXPECT_FALSE(CreateUniqueFile(tpl, name, error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(name.empty());
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::wstring>{L"video_kv_0.wmv", L"video_kv_1.wmv"}));
}

TEST(UniqueFileNameTest, CreationFailureGivesTheReasonAndNoName) {
    TempFolder dir(L"ufn");
    std::wstring name = L"stale";
    DWORD error = 0;
    // A base name longer than any file system allows for one name.
    fw::Handle file = CreateUniqueFile(dir.Path() + std::wstring(300, L'n') + L".jpg", name, error);
    EXPECT_FALSE(file);
    EXPECT_TRUE(name.empty());
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(dir.Names().empty());
}

}  // namespace
