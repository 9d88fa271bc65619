// The framework's own file handling of Open and Save: a failure shows why in
// the message box (a failed Save must not look like one that worked), and a
// FIFO or a folder at the path neither blocks nor counts as a document.
#include "framework/CDocument.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "framework/AfxMessageBox.h"

namespace win {
namespace {

class EmptyDoc : public CDocument {};

class CDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        testing::SetMessageBoxRecorder(&boxes);
    }
    void TearDown() override { testing::SetMessageBoxRecorder(nullptr); }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    QTemporaryDir dir;
    std::vector<std::string> boxes;
    EmptyDoc doc;
};

TEST_F(CDocumentTest, OpenAndSaveOfARegularFileWorkQuietly) {
    const std::string path = Path("capture.qv");
    EXPECT_TRUE(doc.OnSaveDocument(path.c_str()));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_TRUE(doc.OnOpenDocument(path.c_str()));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CDocumentTest, FailuresShowWhyInTheMessageBox) {
    const std::string missing = Path("missing.qv");
    const std::string folder = dir.path().toStdString();
    const std::string fifo = Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string unwritable = Path("no-such-folder/x.qv");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(doc.OnOpenDocument(missing.c_str()));
    EXPECT_FALSE(doc.OnOpenDocument(folder.c_str()));
    EXPECT_FALSE(doc.OnOpenDocument(fifo.c_str()));
    EXPECT_FALSE(doc.OnSaveDocument(unwritable.c_str()));
    EXPECT_FALSE(doc.OnSaveDocument(folder.c_str()));
    EXPECT_FALSE(doc.OnSaveDocument(fifo.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(boxes, (std::vector<std::string>{
                         "Couldn't open \"" + missing + "\": No such file or directory",
                         "Couldn't open \"" + folder + "\": Is a directory",
                         "Couldn't open \"" + fifo + "\": not a regular file",
                         "Couldn't save \"" + unwritable + "\": No such file or directory",
                         "Couldn't save \"" + folder + "\": Is a directory",
                         "Couldn't save \"" + fifo + "\": not a regular file",
                     }));
}

TEST_F(CDocumentTest, AModifiedDocumentAsksBeforeItIsDiscarded) {
    doc.SetTitle("capture.pcapng");
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_TRUE(boxes.empty()) << "a clean document asks nothing";

    doc.SetModifiedFlag();
    testing::SetMessageBoxAnswer(IDCANCEL);
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_EQ(boxes, std::vector<std::string>{"Save changes to capture.pcapng?"});
    EXPECT_TRUE(doc.IsModified());

    testing::SetMessageBoxAnswer(IDNO);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_TRUE(doc.IsModified()) << "No discards without saving";

    // Yes saves to the document's path, atomically: no temporary file stays.
    const std::string path = Path("capture.pcapng");
    doc.SetPathName(path);
    testing::SetMessageBoxAnswer(IDYES);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_FALSE(doc.IsModified());
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(boxes.size(), 3u);
    testing::SetMessageBoxAnswer(IDCANCEL);
}

}  // namespace
}  // namespace win
