#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <atomic>
#include <filesystem>
#include <thread>

#include "console/single_instance.h"
#include "console_test_support.h"

namespace {

QString UniqueName() { return "quillmark-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces); }

// Asks from another thread, as a second process would, while this thread
// serves the running one's events.
bool AskFromElsewhere(const QString& name) {
  std::atomic<int> answer{-1};
  std::thread asker([&] {
    CSingleInstance second(name);
    answer = second.ForwardToRunning(3000) ? 1 : 0;
  });
  QElapsedTimer t;
  t.start();
  while (answer < 0 && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  asker.join();
  return answer == 1;
}

}  // namespace

TEST(SingleInstance, ALaterStartIsForwardedOnlyWhenAWindowWasBroughtForward) {
  const QString name = UniqueName();
  CSingleInstance first(name);
  EXPECT_FALSE(first.ForwardToRunning(500));  // nobody runs yet
  int asked = 0;
  bool haveWindow = true;
  ASSERT_TRUE(first.Listen([&] {
    ++asked;
    return haveWindow;
  }));
  EXPECT_TRUE(first.Listening());

  EXPECT_TRUE(AskFromElsewhere(name));
  EXPECT_EQ(asked, 1);

  // The running one holds the name but found no window: this start runs.
  haveWindow = false;
  EXPECT_FALSE(AskFromElsewhere(name));
  EXPECT_EQ(asked, 2);

  // It keeps its name: a second listener is refused, and the first one
  // still answers.
  CSingleInstance other(name);
  EXPECT_FALSE(other.Listen([] { return true; }));
  EXPECT_FALSE(other.Listening());
  haveWindow = true;
  EXPECT_TRUE(AskFromElsewhere(name));
}

TEST(SingleInstance, ANameLeftBehindByAnEndedConsoleIsTakenOver) {
  const QString name = UniqueName();
  // A socket file nobody answers on, as a console that crashed leaves it:
  // a second link to a listening socket outlives the server's close.
  std::filesystem::path stale;
  {
    QLocalServer dead;
    ASSERT_TRUE(dead.listen(name));
    stale = dead.fullServerName().toStdString();
    std::filesystem::path keep = stale.string() + ".keep";
    std::filesystem::create_hard_link(stale, keep);
    dead.close();
    std::filesystem::rename(keep, stale);
  }
  ASSERT_TRUE(std::filesystem::exists(stale));
  CSingleInstance console(name);
  EXPECT_FALSE(console.ForwardToRunning(500));
  EXPECT_TRUE(console.Listen([] { return true; }));
  EXPECT_TRUE(AskFromElsewhere(name));
}

TEST(SingleInstance, TheNameIsPerUserAndRegistry) {
  qputenv("USER", "alice");
  qputenv("QUILLMARK_REGISTRY", "/tmp/one");
  QString a = DefaultInstanceName();
  qputenv("QUILLMARK_REGISTRY", "/tmp/two");
  QString b = DefaultInstanceName();
  qputenv("USER", "bob");
  QString c = DefaultInstanceName();
  qunsetenv("QUILLMARK_REGISTRY");
  EXPECT_TRUE(a.startsWith("Quillmark-alice-"));
  EXPECT_NE(a, b);
  EXPECT_TRUE(c.startsWith("Quillmark-bob-"));
}

// The real program: a second start while one runs ends by itself, and the
// first one keeps running.
TEST(SingleInstance, ASecondConsoleProcessEndsAndTheFirstRuns) {
  ScratchRegistry scratch;
  const std::string program = std::string(QM_APP_DIR) + "/Quillmark";
  ASSERT_TRUE(std::filesystem::exists(program));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("QUILLMARK_REGISTRY", QString::fromStdString(scratch.RegistryRoot().string()));
  env.insert("QUILLMARK_OPENER", "true");

  QProcess first;
  first.setProcessEnvironment(env);
  first.start(QString::fromStdString(program), {});
  ASSERT_TRUE(first.waitForStarted(10000));

  // Wait until the first one answers on its name.
  qputenv("QUILLMARK_REGISTRY", scratch.RegistryRoot().string().c_str());
  const QString name = DefaultInstanceName();
  qunsetenv("QUILLMARK_REGISTRY");
  QElapsedTimer t;
  t.start();
  bool up = false;
  while (!up && t.elapsed() < 20000) {
    QLocalSocket probe;
    probe.connectToServer(name);
    up = probe.waitForConnected(200);
    if (!up) QThread::msleep(100);
  }
  ASSERT_TRUE(up);

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(QString::fromStdString(program), {});
  ASSERT_TRUE(second.waitForStarted(10000));
  EXPECT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  first.terminate();
  if (!first.waitForFinished(10000)) {
    first.kill();
    first.waitForFinished(5000);
  }
}
