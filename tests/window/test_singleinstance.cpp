// Second starts from threads of their own, all at once, against a keyboard
// listening on this thread, with silent callers holding places meanwhile.
#include "window/singleinstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

TEST(SingleInstanceTest, startsAtOnceEachHandTheirSongOnceWhileSilentCallersHoldPlaces)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    SingleInstance keyboard(QStringLiteral(":9"));
    ASSERT_EQ(keyboard.start(QString()), SingleInstance::Outcome::Listening);
    QStringList handed;
    QObject::connect(&keyboard, &SingleInstance::songHanded, [&](const QString& song) { handed << song; });

    // Callers that connect and never speak take all but one of the places.
    std::vector<int> silent;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(keyboard.socketPath());
    std::copy(path.begin(), path.end(), address.sun_path);
    for (int i = 0; i < 3; ++i) {
        silent.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::connect(silent.back(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    }

    constexpr int kStarts = 6;
    std::atomic<int> over{0};
    std::vector<std::thread> starts;
    for (int i = 0; i < kStarts; ++i)
        starts.emplace_back([&over, i] {
            SingleInstance second(QStringLiteral(":9"));
            over += second.start(QStringLiteral("/songs/%1.hbk").arg(i)) == SingleInstance::Outcome::HandedOver;
        });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (handed.size() < kStarts && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (auto& s : starts)
        s.join();
    for (int fd : silent)
        ::close(fd);

    EXPECT_EQ(over, kStarts);
    handed.sort();
    QStringList expected;
    for (int i = 0; i < kStarts; ++i)
        expected << QStringLiteral("/songs/%1.hbk").arg(i);
    EXPECT_EQ(handed, expected);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
