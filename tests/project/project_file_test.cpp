#include "project/project_file.h"
#include "project/photo_fingerprint.h"
#include "project/project_paths.h"

#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;

class ProjectFileTest : public testing::TempHomeTest {
protected:
    std::string makeFolder(const std::string& relative) {
        const std::string folder = path(relative);
        ::mkdir(folder.c_str(), 0755);
        return folder;
    }
    std::string makePhoto(const std::string& file, const std::string& bytes = "jpeg bytes") {
        EXPECT_TRUE(writeFile(file, bytes)) << file;
        return file;
    }
    std::string projectText(const std::string& slides, const std::string& version = "1") {
        return "<?xml version=\"1.0\"?>\n<kestrelle-project version=\"" + version + "\">\n<slides>\n" +
               slides + "</slides>\n</kestrelle-project>\n";
    }
    ProjectReadResult readText(const std::string& text) {
        const std::string file = path("show.kestrelle");
        EXPECT_TRUE(writeFile(file, text));
        return readProjectFile(file);
    }
    static std::string slideXml(const std::string& photo, const std::string& duration = "3",
                                const std::string& transition = "1", const std::string& effect = "0") {
        return "<slide photo=\"" + photo + "\" duration=\"" + duration + "\" transition=\"" + transition +
               "\" effect=\"" + effect + "\"/>\n";
    }
};

ProjectDocument sampleDocument(const std::string& inside, const std::string& outside) {
    ProjectDocument document;
    document.content.slides = {
        SlideContent{inside + "/photos/a.jpg", 0.1 + 0.2, 1.0 / 3.0, 12, -1, false},
        SlideContent{outside + "/b.jpg", 86400.0, 0.0, 0, -1, false},
        SlideContent{inside + "/c.jpg", 2.5, 1.5, 7, -1, false},
    };
    document.content.clips = {
        ClipContent{inside + "/music/song.wav", 183.25, 32410112, 176400},
        ClipContent{outside + "/other.mp3", 61.5, 0, 0},
    };
    document.fingerprints = {PhotoFingerprint{10, std::string(64, 'a')}, PhotoFingerprint{},
                             PhotoFingerprint{1234567890123ull, std::string(64, '0')}};
    document.profileName = "PAL 720x576 \xC3\xA9t\xC3\xA9";
    document.outputName = "Holiday & friends.avi";
    document.targetFolder = outside + "/videos";
    return document;
}

TEST_F(ProjectFileTest, SaveAndOpenGiveTheSameSlideshowAlsoAfterTheFolderMoved) {
    const std::string inside = makeFolder("show");
    const std::string outside = makeFolder("elsewhere");
    makeFolder("show/photos");
    makeFolder("show/music");
    makePhoto(inside + "/photos/a.jpg");
    makePhoto(inside + "/c.jpg");
    makePhoto(outside + "/b.jpg");
    const ProjectDocument document = sampleDocument(inside, outside);
    const std::string file = inside + "/show.kestrelle";
    std::string message;
    ASSERT_TRUE(writeProjectFile(file, document, &message)) << message;

    const std::string text = readFile(file);
    EXPECT_NE(text.find("photo=\"photos/a.jpg\""), std::string::npos) << text;
    EXPECT_NE(text.find("photo=\"" + outside + "/b.jpg\""), std::string::npos) << text;
    EXPECT_NE(text.find("path=\"music/song.wav\""), std::string::npos) << text;

    ProjectReadResult read = readProjectFile(file);
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    EXPECT_EQ(read.document.content, document.content);
    EXPECT_EQ(read.document.fingerprints, document.fingerprints);
    EXPECT_EQ(read.document.profileName, document.profileName);
    EXPECT_EQ(read.document.outputName, document.outputName);
    EXPECT_EQ(read.document.targetFolder, document.targetFolder);

    // The whole folder moved: the relative paths follow it, the absolute one stays.
    const std::string moved = path("moved-show");
    ASSERT_EQ(std::rename(inside.c_str(), moved.c_str()), 0);
    read = readProjectFile(moved + "/show.kestrelle");
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    ASSERT_EQ(read.document.content.slides.size(), 3u);
    EXPECT_EQ(read.document.content.slides[0].photoPath, moved + "/photos/a.jpg");
    EXPECT_FALSE(read.document.content.slides[0].photoMissing);
    EXPECT_EQ(read.document.content.slides[1].photoPath, outside + "/b.jpg");
    EXPECT_EQ(read.document.content.clips[0].path, moved + "/music/song.wav");

    // An empty slideshow round-trips as well.
    ASSERT_TRUE(writeProjectFile(moved + "/empty.kestrelle", ProjectDocument{}));
    read = readProjectFile(moved + "/empty.kestrelle");
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    EXPECT_TRUE(read.document.content.slides.empty());
    EXPECT_TRUE(read.document.content.clips.empty());
}

// Motion and fit are written only where a slide has them, so files without them keep their bytes; they
// round-trip with the motion seed, and values a later version may add read as the still letterbox.
TEST_F(ProjectFileTest, MotionAndFitRoundTripAndUnknownValuesReadAsStill) {
    const std::string photo = makePhoto(path("a.jpg"));
    ProjectDocument document;
    document.content.slides.resize(4, SlideContent{photo, 3.0, 1.0, 0, -1, false});
    document.content.slides[1].look = {{MotionKind::Custom, {10.5, 20, 400, 300}, {-5, 0, 1e9, 2}},
                                       {PhotoFit::BlurredBackground, true}};
    document.content.slides[2].look = {{MotionKind::GentleRandom, {}, {}}, {PhotoFit::Fill, false}};
    document.content.slides[3].look = {{MotionKind::PanUp, {}, {}}, {PhotoFit::Letterbox, true}};
    document.content.motionSeed = 18446744073709551615ull;
    const std::string file = path("show.kestrelle");
    ASSERT_TRUE(writeProjectFile(file, document));
    ProjectReadResult read = readProjectFile(file);
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    EXPECT_EQ(read.document.content, document.content);

    ProjectDocument still = document;
    for (SlideContent& slide : still.content.slides) slide.look = {};
    still.content.motionSeed = 0;
    const std::string text = projectFileText(still, file);
    for (const char* absent : {"motion", "fit", "enlarge"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;

    read = readText(
        "<?xml version=\"1.0\"?>\n<kestrelle-project version=\"1\">\n<motion seed=\"-3\"/>\n<slides>\n"
        "<slide photo=\"" +
        photo +
        "\" duration=\"3\" transition=\"1\" effect=\"0\" motion=\"spin\" "
        "fit=\"stretch\" enlarge=\"yes\"/>\n<slide photo=\"" +
        photo +
        "\" duration=\"3\" "
        "transition=\"1\" effect=\"0\" motion=\"custom\" motion-start=\"1 2 3\" "
        "motion-end=\"1 2 3 nan\"/>\n</slides>\n</kestrelle-project>\n");
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    ASSERT_EQ(read.document.content.slides.size(), 2u);
    EXPECT_EQ(read.document.content.slides[0].look, SlideLook{});
    EXPECT_EQ(read.document.content.motionSeed, 0u);
    EXPECT_EQ(read.document.content.slides[1].look.motion.kind, MotionKind::Custom);
    EXPECT_TRUE(read.document.content.slides[1].look.motion.start.isNull());
    EXPECT_TRUE(read.document.content.slides[1].look.motion.end.isNull());
}

TEST_F(ProjectFileTest, OddAndNonUtf8NamesRoundTrip) {
    const std::string folder = makeFolder("odd");
    const std::vector<std::string> names = {"caf\xE9.jpg",         "100%.jpg",
                                            "a&b<c>\"'.jpg",       "tab\there.jpg",
                                            "line\nbreak.jpg",     "\xF0\x9F\x93\xB7.jpg",
                                            "%41 not escaped.jpg", "\xC3\x28 broken.jpg",
                                            "\xEF\xBF\xBE.jpg",    " lead and trail .jpg"};
    ProjectDocument document;
    for (const std::string& name : names) {
        makePhoto(folder + "/" + name);
        document.content.slides.push_back(SlideContent{folder + "/" + name, 3.0, 3.0, 0, -1, false});
    }
    document.outputName = "\xFF\xFE out.avi";
    document.targetFolder = path("caf\xE9 videos");
    const std::string file = folder + "/odd.kestrelle";
    ASSERT_TRUE(writeProjectFile(file, document));
    // Also kept apart from the file: the same names written absolute.
    ASSERT_TRUE(writeProjectFile(path("outside.kestrelle"), document));
    for (const std::string& project : {file, path("outside.kestrelle")}) {
        const ProjectReadResult read = readProjectFile(project);
        ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
        EXPECT_EQ(read.document.content, document.content);
        EXPECT_EQ(read.document.outputName, document.outputName);
        EXPECT_EQ(read.document.targetFolder, document.targetFolder);
    }

    // The text itself stays valid UTF-8 with the odd bytes escaped.
    EXPECT_EQ(encodePathText("caf\xE9"), "caf%E9");
    EXPECT_EQ(encodePathText("100%"), "100%25");
    EXPECT_EQ(encodePathText("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(encodePathText(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(encodePathText("\xE0\x80\x80"), "%E0%80%80");  // an overlong form is no character
    EXPECT_EQ(decodePathText("%e9%41"), std::string("\xE9"
                                                    "A"));
    EXPECT_FALSE(decodePathText("50%"));
    EXPECT_FALSE(decodePathText("%4"));
    EXPECT_FALSE(decodePathText("%G1"));
}

TEST_F(ProjectFileTest, PathsAreResolvedWithinLimits) {
    EXPECT_EQ(normaliseAbsolutePath("/a/./b//c/../d"), "/a/b/d");
    EXPECT_EQ(normaliseAbsolutePath("/a/.."), "/");
    EXPECT_FALSE(normaliseAbsolutePath("/.."));
    EXPECT_FALSE(normaliseAbsolutePath("a/b"));
    EXPECT_EQ(pathBeneath("/a/b/c.jpg", "/a"), "b/c.jpg");
    EXPECT_FALSE(pathBeneath("/ab/c.jpg", "/a"));
    EXPECT_FALSE(pathBeneath("/a", "/a"));

    const std::string shared = makeFolder("shared");
    makePhoto(shared + "/p.jpg");
    const ProjectReadResult read = readText(
        projectText(slideXml("sub/../shared/./p.jpg") + slideXml("/tmp/../" + shared.substr(1) + "/p.jpg")));
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    EXPECT_EQ(read.document.content.slides[0].photoPath, shared + "/p.jpg");
    EXPECT_EQ(read.document.content.slides[1].photoPath, shared + "/p.jpg");
    EXPECT_FALSE(read.document.content.slides[0].photoMissing);

    // A path beneath the project's folder by way of "." and ".." is written relative all the same.
    ProjectDocument roundabout;
    roundabout.content.slides = {SlideContent{shared + "/./sub/../p.jpg"}};
    EXPECT_NE(projectFileText(roundabout, shared + "/x.kestrelle").find("photo=\"p.jpg\""),
              std::string::npos);

    // A climb above the root names nothing real: the file is damaged.
    std::string deep;
    for (int i = 0; i < 64; ++i) deep += "../";
    const ProjectReadResult above = readText(projectText(slideXml(deep + "etc/passwd")));
    EXPECT_EQ(above.error, ProjectFileError::Damaged);
    EXPECT_NE(above.message.find("root"), std::string::npos) << above.message;
}

TEST_F(ProjectFileTest, AFileOfALaterVersionIsRefusedWithAMessage) {
    const ProjectReadResult read = readText(projectText(slideXml("a.jpg"), "2") + "<future-thing/>");
    EXPECT_EQ(read.error, ProjectFileError::NewerVersion);
    EXPECT_NE(read.message.find("saved by a newer version of Kestrelle"), std::string::npos) << read.message;
    EXPECT_TRUE(read.document.content.slides.empty());

    for (const std::string version : {"0", "-1", "one", "", "1.0", " 1"}) {
        EXPECT_EQ(readText(projectText("", version)).error, ProjectFileError::Damaged) << version;
    }
}

TEST_F(ProjectFileTest, WhatIsNotAProjectIsRefused) {
    EXPECT_EQ(readProjectFile(path("none.kestrelle")).error, ProjectFileError::CannotOpen);
    EXPECT_EQ(readProjectFile(makeFolder("folder.kestrelle")).error, ProjectFileError::CannotOpen);
    ASSERT_EQ(::mkfifo(path("fifo.kestrelle").c_str(), 0600), 0);
    EXPECT_EQ(readProjectFile(path("fifo.kestrelle")).error, ProjectFileError::CannotOpen);

    EXPECT_EQ(readText("").error, ProjectFileError::NotAProject);
    EXPECT_EQ(readText("<settings><a/></settings>").error, ProjectFileError::NotAProject);
    // Entities are a way to make a small file large: a document type is refused outright.
    const ProjectReadResult entities = readText(
        "<!DOCTYPE kestrelle-project [<!ENTITY a \"aaaaaaaaaa\">]><kestrelle-project version=\"1\"/>");
    EXPECT_EQ(entities.error, ProjectFileError::NotAProject);

    // An element with a hundred thousand attributes (which Qt's reader would check against each other
    // for hours) is refused in one pass; a comment full of '=' is still only a comment.
    std::string attributes;
    for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
    const ProjectReadResult crowded = readText(projectText("<slide" + attributes + "/>"));
    EXPECT_EQ(crowded.error, ProjectFileError::Damaged);
    EXPECT_NE(crowded.message.find("attributes"), std::string::npos) << crowded.message;
    EXPECT_EQ(readText("<!--" + attributes + "--><kestrelle-project version=\"1\"/>").error,
              ProjectFileError::Ok);
    // Elements nested a million deep cost the XML reader memory at each level: refused in that pass too.
    std::string nested;
    for (int i = 0; i < 1000000; ++i) nested += "<a>";
    EXPECT_EQ(readText(projectText(nested)).error, ProjectFileError::Damaged);
    // Nor can a quote in other markup hide the attributes from that pass.
    EXPECT_EQ(readText(projectText("<![CDATA[\"]]><?pi \"?><slide" + attributes + "/>")).error,
              ProjectFileError::Damaged);

    // Ten megabytes of random bytes: refused at once, with a message.
    std::mt19937 random(21);
    std::string noise(10 * 1024 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const ProjectReadResult read = readText(noise);
    EXPECT_NE(read.error, ProjectFileError::Ok);
    EXPECT_FALSE(read.message.empty());
}

TEST_F(ProjectFileTest, ATruncatedFileIsDamagedAtEveryCut) {
    const std::string folder = makeFolder("cut");
    ProjectDocument document = sampleDocument(folder, folder);
    const std::string full = projectFileText(document, folder + "/x.kestrelle");
    const std::size_t rootEnd = full.rfind("</kestrelle-project>");
    ASSERT_NE(rootEnd, std::string::npos);
    for (std::size_t cut = 0; cut < rootEnd + 19; ++cut) {
        const ProjectReadResult read = parseProjectFileText(full.substr(0, cut), folder + "/x.kestrelle");
        ASSERT_NE(read.error, ProjectFileError::Ok) << "cut at " << cut;
        EXPECT_FALSE(read.message.empty());
        EXPECT_TRUE(read.document.content.slides.empty());
    }
    EXPECT_EQ(readText(full.substr(0, rootEnd + 20)).error, ProjectFileError::Ok);
}

TEST_F(ProjectFileTest, ValuesOutOfRangeMakeTheFileDamaged) {
    const std::vector<std::string> bad = {
        slideXml("a.jpg", "-1"),
        slideXml("a.jpg", "86400.5"),
        slideXml("a.jpg", "1e308"),
        slideXml("a.jpg", "nan"),
        slideXml("a.jpg", "inf"),
        slideXml("a.jpg", "3,5"),
        slideXml("a.jpg", "3", "-0.5"),
        slideXml("a.jpg", "3", ""),
        slideXml("a.jpg", "3", "1", "13"),
        slideXml("a.jpg", "3", "1", "-1"),
        slideXml("a.jpg", "3", "1", "2x"),
        slideXml("a%00b.jpg"),
        slideXml("a%2.jpg"),
        slideXml(""),
        "<slide duration=\"3\" transition=\"1\" effect=\"0\"/>",
        "<slide photo=\"a.jpg\" duration=\"3\" transition=\"1\" effect=\"0\" bytes=\"-4\"/>",
        "<slide photo=\"a.jpg\" duration=\"3\" transition=\"1\" effect=\"0\" hash=\"ZZ\"/>",
        slideXml(std::string(5000, 'a')),
    };
    for (const std::string& slide : bad) {
        const ProjectReadResult read = readText(projectText(slideXml("fine.jpg") + slide));
        EXPECT_EQ(read.error, ProjectFileError::Damaged) << slide;
        EXPECT_NE(read.message.find("damaged"), std::string::npos) << read.message;
        EXPECT_TRUE(read.document.content.slides.empty());
    }
    const std::string clipText =
        "<kestrelle-project version=\"1\"><soundtrack><clip path=\"s.wav\" duration=\"-3\"/>"
        "</soundtrack></kestrelle-project>";
    EXPECT_EQ(readText(clipText).error, ProjectFileError::Damaged);

    // The edges themselves are fine, and unknown elements and attributes are passed over.
    const ProjectReadResult edges = readText(
        "<kestrelle-project version=\"1\" colour=\"blue\"><motion><slide photo=\"x\"/></motion>"
        "<slides><note>hi</note><slide photo=\"a.jpg\" duration=\"0\" transition=\"86400\" effect=\"12\" "
        "tilt=\"4\" bytes=\"12\"><zoom/></slide></slides></kestrelle-project>");
    ASSERT_EQ(edges.error, ProjectFileError::Ok) << edges.message;
    ASSERT_EQ(edges.document.content.slides.size(), 1u);
    EXPECT_EQ(edges.document.content.slides[0].transitionDuration, 86400.0);
    EXPECT_EQ(edges.document.content.slides[0].transitionEffect, 12);
    // A size without its fingerprint is none (so a save writes the same as it read).
    EXPECT_EQ(edges.document.fingerprints, std::vector<PhotoFingerprint>{PhotoFingerprint{}});
}

TEST_F(ProjectFileTest, PhotosThatCannotBeReadStayAsMissingSlides) {
    const std::string folder = makeFolder("odd-photos");
    makeFolder("odd-photos/folder.jpg");
    ASSERT_EQ(::mkfifo((folder + "/fifo.jpg").c_str(), 0600), 0);
    makePhoto(folder + "/real.jpg");
    const std::string file = folder + "/show.kestrelle";
    ASSERT_TRUE(writeFile(
        file, projectText(slideXml("folder.jpg") + slideXml("fifo.jpg") + slideXml("gone.jpg") +
                          slideXml("show.kestrelle") + slideXml("./show.kestrelle") + slideXml("real.jpg"))));
    const ProjectReadResult read = readProjectFile(file);
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    ASSERT_EQ(read.document.content.slides.size(), 6u);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(read.document.content.slides[i].photoMissing) << i;
    EXPECT_FALSE(read.document.content.slides[5].photoMissing);
    EXPECT_EQ(read.document.content.slides[4].photoPath, file);
}

TEST_F(ProjectFileTest, SlideCountIsBounded) {
    std::string slides;
    slides.reserve(kMaxProjectSlides * 64);
    for (std::size_t i = 0; i < kMaxProjectSlides; ++i) slides += slideXml("p.jpg", "3", "1", "1");
    const ProjectReadResult most = readText(projectText(slides));
    ASSERT_EQ(most.error, ProjectFileError::Ok) << most.message;
    EXPECT_EQ(most.document.content.slides.size(), kMaxProjectSlides);

    const ProjectReadResult beyond = readText(projectText(slides + slideXml("p.jpg")));
    EXPECT_EQ(beyond.error, ProjectFileError::TooLarge);
    EXPECT_NE(beyond.message.find("too large"), std::string::npos) << beyond.message;
    EXPECT_TRUE(beyond.document.content.slides.empty());
}

TEST_F(ProjectFileTest, AFailedSaveLeavesNoFileAndSaysWhy) {
    std::string message;
    EXPECT_FALSE(writeProjectFile(path("no-such-folder/show.kestrelle"), ProjectDocument{}, &message));
    EXPECT_NE(message.find("show.kestrelle"), std::string::npos) << message;
}

TEST_F(ProjectFileTest, FingerprintsAreComputedOnceAndFollowTheFile) {
    const std::string small = makePhoto(path("small.jpg"), "abc");
    std::string big(300 * 1024, 'x');
    const std::string large = makePhoto(path("large.jpg"), big);

    PhotoFingerprintCache cache;
    const PhotoFingerprint first = cache.fingerprint(small);
    EXPECT_EQ(first.bytes, 3u);
    EXPECT_EQ(first.hash.size(), 64u);
    EXPECT_EQ(cache.fingerprint(small), first);
    EXPECT_EQ(cache.computedCount(), 1u);

    // A change in the middle of a large file is not seen (only its edges count); one at the end is.
    const PhotoFingerprint largeFirst = cache.fingerprint(large);
    big[150 * 1024] = 'y';
    makePhoto(large, big);
    EXPECT_EQ(computePhotoFingerprint(large), largeFirst);
    big.back() = 'y';
    makePhoto(large, big);
    EXPECT_NE(computePhotoFingerprint(large).hash, largeFirst.hash);

    // A new content of another size is computed again.
    makePhoto(small, "abcd");
    EXPECT_NE(cache.fingerprint(small), first);

    // A photo that is gone keeps the fingerprint the project file had for it.
    const PhotoFingerprint stored{42, std::string(64, 'c')};
    cache.remember(path("gone.jpg"), stored);
    EXPECT_EQ(cache.fingerprint(path("gone.jpg")), stored);
    ASSERT_EQ(::mkfifo(path("fifo.jpg").c_str(), 0600), 0);
    EXPECT_EQ(cache.fingerprint(path("fifo.jpg")), PhotoFingerprint{});

    // Without computing, only what the cache holds comes out; warming it computes the rest.
    const std::string fresh = makePhoto(path("fresh.jpg"), "fresh");
    ProjectDocument quick;
    quick.content.slides = {SlideContent{fresh}, SlideContent{path("gone.jpg")}};
    const std::uint64_t computedBefore = cache.computedCount();
    cache.fillFingerprints(quick, false);
    EXPECT_EQ(quick.fingerprints, (std::vector<PhotoFingerprint>{PhotoFingerprint{}, stored}));
    EXPECT_EQ(cache.computedCount(), computedBefore);
    cache.warm({fresh, path("gone.jpg")}, [] { return true; });
    cache.fillFingerprints(quick, false);
    EXPECT_EQ(quick.fingerprints[0], computePhotoFingerprint(fresh));

    ProjectDocument document;
    document.content.slides = {SlideContent{small}, SlideContent{path("gone.jpg")}};
    cache.fillFingerprints(document);
    ASSERT_EQ(document.fingerprints.size(), 2u);
    EXPECT_EQ(document.fingerprints[1], stored);
}

}  // namespace
}  // namespace kestrelle
