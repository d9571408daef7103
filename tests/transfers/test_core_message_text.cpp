#include "CoreMessageText.h"
#include "StoreTestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;

namespace {

QString systemWords(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

// The core's texts that begin with "the " and never reach an event of this computer's host, with why.
const QStringList notEventTexts = {
    // Errors of a management request or its answer, shown by the requests' own path.
    u"the action name is empty or too long"_s,
    u"the payload is too large"_s,
    u"the answer is too large"_s,
    // The phone's side of a connection, before any link exists: its handshake and greeting.
    u"the host presented a key other than the paired one"_s,
    u"the TLS handshake took too long"_s,
    u"the connection closed during the greeting"_s,
    u"the greeting took too long"_s,
    // Told to a phone whose greeting the host refuses.
    u"the phone did not identify itself"_s,
};
// Files of the core whose texts this computer never sees in an event: the phone's client, the identity material and
// pairing URL (whose failures are thrown to the caller), the C surface.
const QStringList filesOfOtherTexts = {u"Client.cpp"_s, u"Identity.cpp"_s, u"ffi.cpp"_s};

// The messages that the core's sources build from a literal beginning with "the ": each further literal joined to it
// with + (also after the closing parenthesis of a std::string around it) is read as written, anything else joined (a
// folder, the system's reason) becomes "X".
QStringList coreTexts(const QString &folder)
{
    static const QRegularExpression literal(uR"re("((?:[^"\\]|\\.)*)")re"_s);
    static const QRegularExpression joinedLiteral(uR"re(\)?\s*\+\s*"((?:[^"\\]|\\.)*)")re"_s);
    static const QRegularExpression joinedOther(uR"re(\)?\s*\+\s*[\w:.>\-]+(?:\([^()]*\))?)re"_s);
    QStringList texts;
    const QStringList files = QDir(folder).entryList({u"*.cpp"_s}, QDir::Files);
    for (const QString &name : files) {
        if (filesOfOtherTexts.contains(name))
            continue;
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeIf([](const QString &line) { return line.trimmed().startsWith(u"//"); });
        const QString source = lines.join(u'\n');
        for (QRegularExpressionMatchIterator found = literal.globalMatch(source); found.hasNext();) {
            const QRegularExpressionMatch start = found.next();
            QString text = start.captured(1);
            if (!text.startsWith(u"the "))
                continue;
            qsizetype at = start.capturedEnd();
            while (true) {
                const auto anchored = QRegularExpression::AnchorAtOffsetMatchOption;
                if (const auto joined = joinedLiteral.match(source, at, QRegularExpression::NormalMatch, anchored);
                    joined.hasMatch()) {
                    text += joined.captured(1);
                    at = joined.capturedEnd();
                } else if (const auto other = joinedOther.match(source, at, QRegularExpression::NormalMatch, anchored);
                           other.hasMatch()) {
                    text += u'X';
                    at = other.capturedEnd();
                } else {
                    break;
                }
            }
            if (!notEventTexts.contains(text) && !texts.contains(text))
                texts.append(text);
        }
    }
    return texts;
}

// A socket of this program listening on 127.0.0.1, on a port the system chose; with `listening` false the socket is
// only bound, so that nothing listens on the port.
class LocalSocket
{
public:
    explicit LocalSocket(bool listening) : m_descriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_descriptor, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
            (!listening || ::listen(m_descriptor, 1) == 0) &&
            ::getsockname(m_descriptor, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~LocalSocket() { ::close(m_descriptor); }
    LocalSocket(const LocalSocket &) = delete;
    LocalSocket &operator=(const LocalSocket &) = delete;

    quint16 port() const { return m_port; }

private:
    int m_descriptor;
    quint16 m_port = 0;
};

// The core's words for a port that another program holds (core/Host.cpp), with the system's reason.
QString portTakenDetails(quint16 port)
{
    return u"port %1 on 127.0.0.1 is taken by another program (%2); close it and try again, the phone looks here"_s
        .arg(port)
        .arg(systemWords(EADDRINUSE));
}

} // namespace

class TestCoreMessageText : public QObject
{
    Q_OBJECT

private slots:
    void coreTextsAreShownInChinese_data()
    {
        // The core's message, the event's direction → the text shown.
        const TestTable<QString, TransferDirection, QString> rows;
        const auto receiving = TransferDirection::receiving;
        const auto sending = TransferDirection::sending;
        const QString diskFull = u"the file could not be written: "_s + systemWords(ENOSPC);
        rows("disk full on this computer", diskFull, receiving, u"无法写入文件：磁盘空间不足"_s);
        rows("disk full on the phone, for a file sent to it", diskFull, sending, u"手机无法写入文件：磁盘空间不足"_s);
        rows("inbox folder gone",
             u"the inbox folder /home/u/Downloads/Tavrine cannot be used: "_s + systemWords(ENOENT), receiving,
             u"无法使用接收文件夹“/home/u/Downloads/Tavrine”：文件或文件夹不存在"_s);
        rows("a folder whose name holds the words after it",
             u"the inbox folder /a cannot be used: b cannot be used: "_s + systemWords(EACCES), receiving,
             u"无法使用接收文件夹“/a cannot be used: b”：没有权限"_s);
        rows("a folder named like a mark", u"the inbox folder {reason} cannot be written: "_s + systemWords(EROFS),
             sending, u"手机无法写入接收文件夹“{reason}”：文件系统为只读"_s);
        rows("an uncommon reason keeps the system's words",
             u"the file could not be placed in the inbox: "_s + systemWords(EXDEV), receiving,
             u"无法将文件放入接收文件夹："_s + systemWords(EXDEV));
        rows("damaged on arrival here", u"the file arrived damaged"_s, receiving, u"收到的文件已损坏"_s);
        rows("damaged on arrival at the phone", u"the file arrived damaged"_s, sending, u"手机收到的文件已损坏"_s);
        rows("the phone refuses more files", u"too many transfers at once"_s, sending, u"手机同时接收的文件过多"_s);
        rows("a file sent that cannot be read is this computer's", u"the file could not be read"_s, sending,
             u"无法读取文件"_s);
        rows("connection lost", u"the connection was lost"_s, receiving, u"连接中断，恢复后将继续"_s);
        rows("the phone stopped answering", u"the peer stopped answering"_s, TransferDirection::none,
             u"手机没有响应"_s);
        rows("a detail that is not the system's stays", u"the peer sent a malformed frame: unknown frame type 9"_s,
             TransferDirection::none, u"手机发来的数据格式有误：unknown frame type 9"_s);
        rows("already Chinese", u"配对连接已断开，请重新扫描配对码。"_s, TransferDirection::none,
             u"配对连接已断开，请重新扫描配对码。"_s);
        rows("an unknown text stays", u"SHA-256 is not available"_s, sending, u"SHA-256 is not available"_s);
        rows("a known text inside a longer one stays", u"the file arrived damaged twice"_s, receiving,
             u"the file arrived damaged twice"_s);
        rows("no text", QString(), receiving, QString());
    }
    void coreTextsAreShownInChinese()
    {
        const auto [message, direction, shown] = TestTable<QString, TransferDirection, QString>::fetch();
        QCOMPARE(CoreMessageText::describe(message, direction), shown);
    }

    void everyTransferTextOfTheCoreIsChinese_data()
    {
        const TestTable<QString> rows;
        const QString folder = QFileInfo(QFINDTESTDATA("../../core/Session.cpp")).absolutePath();
        const QStringList texts = folder.isEmpty() ? QStringList() : coreTexts(folder);
        for (const QString &text : texts)
            rows(qPrintable(text), text);
        // The reading of the sources still finds what it is there to find.
        if (!texts.contains(u"the file could not be written: X"_s) ||
            !texts.contains(u"the inbox folder X cannot be written: X"_s) ||
            !texts.contains(u"the peer stopped answering"_s))
            rows("the core's sources were not read", QString());
    }
    // Read from the core's sources, so that a text added there is not shown in English by mistake.
    void everyTransferTextOfTheCoreIsChinese()
    {
        const auto [text] = TestTable<QString>::fetch();
        QVERIFY(!text.isEmpty());
        const QString shown = CoreMessageText::describe(text, TransferDirection::receiving);
        QVERIFY2(shown != text && shown.contains(QRegularExpression(u"\\p{Han}"_s)), qPrintable(shown));
    }

    void aHostThatCannotStartSaysWhyInChinese_data()
    {
        // who holds the port ("this program", "nobody"), or the core's details as they are → the phase's text
        const TestTable<QString, QString> rows;
        const QString advice = u"手机只会在这个端口寻找这台电脑，请关闭该程序后重试。"_s;
        rows("the port the phone knows, held by a program found", u"this program"_s,
             u"端口 {port} 已被程序“{name}”（进程号 {pid}）占用。"_s + advice);
        rows("the port the phone knows, no holder found", u"nobody"_s, u"端口 {port} 已被另一个程序占用。"_s + advice);
        rows("an address that cannot be listened on", u"cannot listen on 127.0.0.1: "_s + systemWords(EACCES),
             u"无法在 127.0.0.1 上等待手机连接：没有权限"_s);
        rows("other details stay", u"port in use"_s,
             u"TavrineMac.TavrineCoreError.ServiceStart(details: \"port in use\")"_s);
    }
    // Another copy of this program, or any other, may hold the port that the phone comes back to: the host cannot
    // start, and the reason names the port and, when it can be found, the program.
    void aHostThatCannotStartSaysWhyInChinese()
    {
        const auto [holder, shown] = TestTable<QString, QString>::fetch();
        const LocalSocket socket(holder == u"this program");
        QVERIFY(socket.port() != 0);
        const QString details =
            holder == u"this program" || holder == u"nobody" ? portTakenDetails(socket.port()) : holder;
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.host->failNextStart = TavrineCoreError::ServiceStart(details);
        store.beginNewPairing();
        QVERIFY(!store.hasHost());
        QString expected = shown;
        expected.replace(u"{port}"_s, QString::number(socket.port()))
            .replace(u"{name}"_s, QString::fromUtf8(contentsOf(u"/proc/self/comm"_s)).trimmed())
            .replace(u"{pid}"_s, QString::number(QCoreApplication::applicationPid()));
        QCOMPARE(store.phase(), Phase::failed(expected));
    }

    void theStoreShowsCoreTextsInChinese_data()
    {
        // An event's kind, direction and message → the text of its task (of the phase for a link's failure).
        const TestTable<TransferEventKind, TransferDirection, QString, QString> rows;
        const QString diskFull = u"the file could not be written: "_s + systemWords(ENOSPC);
        rows("a receive that fails", TransferEventKind::failed, TransferDirection::receiving, diskFull,
             u"无法写入文件：磁盘空间不足"_s);
        rows("a send the phone fails", TransferEventKind::failed, TransferDirection::sending, diskFull,
             u"手机无法写入文件：磁盘空间不足"_s);
        rows("a send that waits", TransferEventKind::waitingForConnection, TransferDirection::sending,
             u"the connection was lost"_s, u"连接中断，恢复后将继续"_s);
        rows("a link's failure", TransferEventKind::failed, TransferDirection::none, u"the connection failed"_s,
             u"连接失败"_s);
    }
    void theStoreShowsCoreTextsInChinese()
    {
        const auto [kind, direction, message, shown] =
            TestTable<TransferEventKind, TransferDirection, QString, QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        TransferEvent event =
            transferEvent(kind, direction, direction == TransferDirection::none ? QString() : u"t1"_s);
        event.message = message;
        fixture.deliver({event});
        if (direction == TransferDirection::none) {
            QCOMPARE(store.phase(), Phase::failed(shown));
        } else {
            QVERIFY(taskWithId(store, u"t1"_s));
            QCOMPARE(taskWithId(store, u"t1"_s)->message, shown);
        }
        QCOMPARE(store.latestEvent()->message, shown);
    }
};

QTEST_GUILESS_MAIN(TestCoreMessageText)
#include "test_core_message_text.moc"
