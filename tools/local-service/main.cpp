#include "ActivityFeed.h"
#include "LocalService.h"
#include "ServiceOptions.h"
#include "common/BuildInfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

namespace {
int fail(const QString &message)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << message << Qt::endl;
    return 1;
}
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-local-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    const auto options = ServiceOptions::parse(application);
    if (!options)
        return fail(options.error());
    const auto feed = options->activityFile ? ActivityFeed::fromFile(*options->activityFile)
                                            : ActivityFeed::demo(QDateTime::currentDateTimeUtc());
    if (!feed)
        return fail(feed.error());

    LocalService service(*options, *feed);
    const auto port = service.listen(options->port);
    if (!port)
        return fail(port.error());
    QTextStream(stdout) << "Listening on http://127.0.0.1:" << *port << '/' << Qt::endl;
    return application.exec();
}
