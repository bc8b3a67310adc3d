#include "picture/FontLookupCache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "picture/TextRenderer.h"
#include "support/TempDir.h"

namespace {

using picture::FaceLocation;
using picture::FaceQuestion;
using picture::FontLookupCache;

const std::string kInstalledFace = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Sets or unsets an environment variable for the scope and restores it.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvOverride() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

FaceQuestion Question() { return FaceQuestion{"MS Sans Serif", true, 13}; }

// Moves the file's modification time, as rewriting it in place would.
void Touch(const std::string& path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(FontLookupCacheTest, AnswerIsFoundAgainForTheSameQuestionAndFile) {
  testing_support::TempDir dir;
  dir.Write("face.ttf", "font bytes");
  const FontLookupCache cache(dir.File("cache/vesk/font-lookup"));
  EXPECT_FALSE(cache.Find(Question()));

  cache.Store(Question(), FaceLocation{dir.File("face.ttf"), 2});
  const std::optional<FaceLocation> found = cache.Find(Question());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->file, dir.File("face.ttf"));
  EXPECT_EQ(found->index, 2);
  // The directories are made private, the file replaced whole.
  struct stat status {};
  ASSERT_EQ(::stat(dir.File("cache/vesk").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("cache/vesk"))) {
    EXPECT_EQ(entry.path().filename(), "font-lookup");
  }
}

TEST(FontLookupCacheTest, AnswerNoLongerTrustedIsIgnored) {
  testing_support::TempDir dir;
  dir.Write("face.ttf", "font bytes");
  const std::string path = dir.File("font-lookup");
  const FontLookupCache cache(path);
  auto store = [&] { cache.Store(Question(), FaceLocation{dir.File("face.ttf"), 0}); };

  store();
  for (FaceQuestion other :
       {FaceQuestion{"Arial", true, 13}, FaceQuestion{"MS Sans Serif", false, 13},
        FaceQuestion{"MS Sans Serif", true, 14}}) {
    EXPECT_FALSE(cache.Find(other))
        << other.family << " " << other.bold << " " << other.pixel_height;
  }
  {
    // Another fontconfig configuration may choose another face.
    EnvOverride config("FONTCONFIG_FILE", "/etc/fonts/other.conf");
    EXPECT_FALSE(cache.Find(Question()));
  }
  ASSERT_TRUE(cache.Find(Question()));

  // The font file replaced: new modification time, or same time and new size.
  Touch(dir.File("face.ttf"), 1000000000);
  EXPECT_FALSE(cache.Find(Question()));
  store();
  dir.Write("face.ttf", "other font bytes");
  Touch(dir.File("face.ttf"), 1000000000);
  EXPECT_FALSE(cache.Find(Question()));
  store();
  std::filesystem::remove(dir.File("face.ttf"));
  EXPECT_FALSE(cache.Find(Question()));

  // Too old: with no lifetime every answer is.
  dir.Write("face.ttf", "font bytes");
  store();
  EXPECT_TRUE(cache.Find(Question()));
  EXPECT_FALSE(FontLookupCache(path, std::chrono::seconds(0)).Find(Question()));
}

TEST(FontLookupCacheTest, DamagedCacheFileIsIgnoredAndRepaired) {
  testing_support::TempDir dir;
  dir.Write("face.ttf", "font bytes");
  const FontLookupCache cache(dir.File("font-lookup"));
  cache.Store(Question(), FaceLocation{dir.File("face.ttf"), 0});
  const std::string good = dir.Read("font-lookup");
  ASSERT_TRUE(cache.Find(Question()));

  const std::string damaged[] = {
      "",
      "garbage\n",
      good.substr(0, good.size() - 1),                      // last line cut short
      good.substr(0, good.find("written=")),                // a field missing
      good + "written=0\n",                                 // a field twice
      "vesk font lookup 2" + good.substr(good.find('\n')),  // another format
      std::string(20000, 'x'),
  };
  for (const std::string& text : damaged) {
    dir.Write("font-lookup", text);
    EXPECT_FALSE(cache.Find(Question())) << text.substr(0, 60);
  }
  for (const char* field : {"index=", "file-size=", "written="}) {
    std::string text = good;
    const std::size_t at = text.find(field) + std::string(field).size();
    text.insert(at, "x");
    dir.Write("font-lookup", text);
    EXPECT_FALSE(cache.Find(Question())) << field;
  }

  cache.Store(Question(), FaceLocation{dir.File("face.ttf"), 0});
  EXPECT_TRUE(cache.Find(Question()));
  // A cache that cannot be written costs nothing but the lookup.
  const FontLookupCache unwritable(dir.File("face.ttf/vesk/font-lookup"));
  unwritable.Store(Question(), FaceLocation{dir.File("face.ttf"), 0});
  EXPECT_FALSE(unwritable.Find(Question()));
}

TEST(FontLookupCacheTest, DefaultPathFollowsTheUserCacheDirectory) {
  {
    EnvOverride xdg("XDG_CACHE_HOME", "/var/cache/someone");
    EnvOverride home("HOME", "/home/someone");
    EXPECT_EQ(FontLookupCache::DefaultPath(), "/var/cache/someone/vesk/font-lookup");
  }
  {
    // A relative base directory is not valid and is ignored.
    EnvOverride xdg("XDG_CACHE_HOME", "cache");
    EnvOverride home("HOME", "/home/someone");
    EXPECT_EQ(FontLookupCache::DefaultPath(), "/home/someone/.cache/vesk/font-lookup");
  }
  {
    EnvOverride xdg("XDG_CACHE_HOME", nullptr);
    EnvOverride home("HOME", nullptr);
    EXPECT_EQ(FontLookupCache::DefaultPath(), "");
    EXPECT_FALSE(FontLookupCache("").Find(Question()));
  }
}

// The renderer takes a family's face from the cache while the answer holds,
// and asks fontconfig again (and remembers its answer) once it does not.
TEST(FontLookupCacheTest, RendererUsesTheCacheOnlyWhileItsAnswerHolds) {
  if (!std::filesystem::exists(kInstalledFace)) GTEST_SKIP() << kInstalledFace << " is missing";
  testing_support::TempDir dir;
  EnvOverride xdg("XDG_CACHE_HOME", dir.path().c_str());
  const FontLookupCache cache(FontLookupCache::DefaultPath());
  std::filesystem::copy_file(kInstalledFace, dir.File("cached.ttf"));

  picture::FontRequest fresh;
  fresh.face = "Vesk Test Cached Face";
  fresh.size_points = 10;
  cache.Store(FaceQuestion{fresh.face, fresh.bold, fresh.PixelHeight()},
              FaceLocation{dir.File("cached.ttf"), 0});
  EXPECT_EQ(picture::TextRenderer::For(fresh).FontFile(), dir.File("cached.ttf"));

  picture::FontRequest stale = fresh;
  stale.face = "Vesk Test Stale Face";
  const FaceQuestion stale_question{stale.face, stale.bold, stale.PixelHeight()};
  cache.Store(stale_question, FaceLocation{dir.File("cached.ttf"), 0});
  Touch(dir.File("cached.ttf"), 1000000000);
  const std::string chosen = picture::TextRenderer::For(stale).FontFile();
  EXPECT_NE(chosen, dir.File("cached.ttf"));
  EXPECT_TRUE(std::filesystem::exists(chosen)) << chosen;
  const std::optional<FaceLocation> remembered = cache.Find(stale_question);
  ASSERT_TRUE(remembered);
  EXPECT_EQ(remembered->file, chosen);
}

}  // namespace
