// The manual the program opens: found from the build tree, and holding the
// topics the program opens it at (a renamed section would break F1 silently).
#include "ui/manual.h"

#include <QFile>
#include <QUrl>

#include <gtest/gtest.h>

namespace quarry {
namespace {

TEST(Manual, IsFoundAndHoldsEveryTopicTheProgramOpens) {
    const QString path = ManualPath();
    ASSERT_FALSE(path.isEmpty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    for (const char* topic : {kManualTopicDialog, kManualTopicExpression}) {
        EXPECT_TRUE(html.contains(QByteArray("id=\"") + topic + "\"")) << topic;
    }
    const QUrl url(ManualUrl(kManualTopicDialog));
    EXPECT_EQ(url.toLocalFile(), path);
    EXPECT_EQ(url.fragment(), kManualTopicDialog);
}

TEST(Manual, AnEnvironmentPathThatDoesNotExistIsPassedOver) {
    qputenv("QUARRY_MANUAL", "/nonexistent/manual.html");
    EXPECT_NE(ManualPath(), QStringLiteral("/nonexistent/manual.html"))
        << "a missing file is passed over";
    qunsetenv("QUARRY_MANUAL");
}

}  // namespace
}  // namespace quarry
