#include "cli/output/Messages.h"

#include "cli/os/SystemLanguage.h"

#include <array>
#include <cstdlib>

namespace lu14::cli {
namespace {

struct Entry {
  Msg id;
  const char* english;
  const char* russian;
};

// In the order of Msg: a static check below keeps the two in step.
constexpr Entry kCatalogue[] = {
    {Msg::MainHelp,
     "usage: lu14 [OPTIONS] COMMAND [ARGS]\n"
     "\n"
     "Updates the firmware of the LU-14 tweezers meter, shows its state and changes\n"
     "its options.\n"
     "\n"
     "Commands:\n"
     "  status               the meter's identity, firmware, battery and options\n"
     "  list                 every attached meter: its id, identity and firmware\n"
     "  update [--all]       save the meter's settings, then write firmware {0};\n"
     "                       --all: every attached meter at once\n"
     "  option NAME on|off   change an option: capacitance or menu-swap\n"
     "  checksum             the meter's firmware checksum, checked against {0}\n"
     "  backup [--output FILE]\n"
     "                       save the meter's settings (its EEPROM) to Documents/lu14\n"
     "  restore FILE [--dry-run]\n"
     "                       write the bytes of a settings backup that differ back\n"
     "\n"
     "Options (before or after the command; --opt VALUE or --opt=VALUE; -- ends them):\n"
     "  --device ID          the meter to use, an id that lu14 list shows; needed by\n"
     "                       update and option when several meters are attached\n"
     "  --wait SECONDS       time to wait for a meter, 0 to 3600 (default 10; list 0)\n"
     "  --json               write the result as JSON to standard output\n"
     "  -q, --quiet          show errors only\n"
     "  -v, --verbose        also show the retries of the meter's transactions\n"
     "  --simulate[=FAULT]   use a built-in simulated meter instead of hardware\n"
     "  --meters N           with --simulate: N simulated meters, 1 to 32 (default 1)\n"
     "  --fault-meter K      with --simulate=FAULT: the fault hits meter K only\n"
     "                       (1 to N; default: every meter)\n"
     "  --latency-us N       with --simulate: each transfer takes N microseconds,\n"
     "                       0 to 1000000 (default 0)\n"
     "  --record FILE        write every transfer with the meter to FILE (JSON lines)\n"
     "  --replay FILE        play the meter from a recording made with --record\n"
     "  -V, --version        print the version (with --json as JSON) and exit\n"
     "  -h, --help           this text; lu14 COMMAND --help (or lu14 help COMMAND)\n"
     "                       shows a command's own\n"
     "\n"
     "Results go to standard output, progress and messages to standard error.\n"
     "The language is Russian when the first of LC_ALL, LC_MESSAGES and LANG that is\n"
     "set starts with \"ru\", {1}.\n"
     "\n"
     "Exit codes:\n"
     "  0  success (also when the meter already has the carried firmware)\n"
     "  1  failed: the meter did not confirm what was asked, the question before a\n"
     "     write was not answered yes, the file to restore is not a backup, the\n"
     "     file to replay is not a recording, the replay left its recording, or\n"
     "     (checksum) the meter's checksum is not the carried firmware's\n"
     "  2  usage error\n"
     "  3  no meter found\n"
     "  4  refused by a safety check: low battery, no settings backup possible,\n"
     "     placeholder firmware on a real meter, several meters and no --device,\n"
     "     a backup of another meter, a backup file that would be replaced\n"
     "  5  interrupted by a stop signal (an update stops at once while it saves the\n"
     "     settings, and later only between two chunks)\n"
     "update --all exits 0 only when every meter succeeded; otherwise 5 when a stop\n"
     "signal interrupted it, else 4 when a safety check refused a meter, else 1.\n",
     "использование: lu14 [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ]\n"
     "\n"
     "Обновляет прошивку пинцета ЛУ-14, показывает его состояние и меняет его\n"
     "настройки.\n"
     "\n"
     "Команды:\n"
     "  status               идентификатор прибора, прошивка, батарея и настройки\n"
     "  list                 все подключённые приборы: id, идентификатор и прошивка\n"
     "  update [--all]       сохранить настройки прибора и записать прошивку {0};\n"
     "                       --all: во все подключённые приборы сразу\n"
     "  option ИМЯ on|off    изменить настройку: capacitance или menu-swap\n"
     "  checksum             контрольная сумма прошивки прибора в сравнении с {0}\n"
     "  backup [--output ФАЙЛ]\n"
     "                       сохранить настройки прибора (его EEPROM) в Documents/lu14\n"
     "  restore ФАЙЛ [--dry-run]\n"
     "                       записать в прибор отличающиеся байты резервной копии\n"
     "\n"
     "Параметры (до или после команды; --пар ЗНАЧ или --пар=ЗНАЧ; -- завершает их):\n"
     "  --device ID          прибор, с которым работать: id из вывода lu14 list; нужен\n"
     "                       командам update и option при нескольких приборах\n"
     "  --wait СЕКУНДЫ       сколько ждать прибор, от 0 до 3600 (обычно 10, list 0)\n"
     "  --json               вывести результат в формате JSON на стандартный вывод\n"
     "  -q, --quiet          показывать только ошибки\n"
     "  -v, --verbose        показывать также повторы обменов с прибором\n"
     "  --simulate[=СБОЙ]    работать со встроенным имитатором прибора\n"
     "  --meters N           с --simulate: N приборов, от 1 до 32 (по умолчанию 1)\n"
     "  --fault-meter K      с --simulate=СБОЙ: сбой только у прибора K\n"
     "                       (от 1 до N; по умолчанию у всех)\n"
     "  --latency-us N       с --simulate: каждая передача длится N микросекунд,\n"
     "                       от 0 до 1000000 (по умолчанию 0)\n"
     "  --record ФАЙЛ        записать все передачи с прибором в ФАЙЛ (строки JSON)\n"
     "  --replay ФАЙЛ        воспроизвести прибор по записи, сделанной с --record\n"
     "  -V, --version        показать версию (с --json - в JSON) и выйти\n"
     "  -h, --help           эта справка; lu14 КОМАНДА --help (или lu14 help КОМАНДА)\n"
     "                       - справка по команде\n"
     "\n"
     "Результаты - на стандартный вывод, ход работы и сообщения - в поток ошибок.\n"
     "Язык русский, если первая заданная из переменных LC_ALL, LC_MESSAGES и LANG\n"
     "начинается с \"ru\", {1}.\n"
     "\n"
     "Коды завершения:\n"
     "  0  успех (и когда в приборе уже эта прошивка)\n"
     "  1  неудача: прибор не подтвердил запрошенное, на вопрос перед записью не\n"
     "     ответили \"да\", файл для восстановления - не резервная копия, файл\n"
     "     для воспроизведения - не запись, воспроизведение разошлось с записью\n"
     "     или (checksum) контрольная сумма прибора не та, что у вложенной прошивки\n"
     "  2  ошибка в командной строке\n"
     "  3  прибор не найден\n"
     "  4  отказ по соображениям безопасности: батарея разряжена, резервную копию\n"
     "     настроек сохранить нельзя, заглушка вместо прошивки на настоящем приборе,\n"
     "     несколько приборов без --device, копия другого прибора, копия заменила бы\n"
     "     существующий файл\n"
     "  5  прервано сигналом (обновление при сохранении настроек останавливается\n"
     "     сразу, а потом только между блоками)\n"
     "update --all завершается с кодом 0, только если успешно обновлены все приборы;\n"
     "иначе 5, если его прервал сигнал, иначе 4, если проверка безопасности\n"
     "отклонила какой-либо прибор, иначе 1.\n"},
    {Msg::StatusHelp,
     "usage: lu14 status [--json] [--device ID] [--wait SECONDS]\n"
     "Waits for a meter, reads it once as the window's status poll does and prints\n"
     "its identity, firmware version and whether it is complete, the battery voltage\n"
     "and the four options: auto-save, capacitance, menu-swap and modified-meter.\n"
     "With several meters and no --device it reads the first one.\n"
     "--json prints one JSON object with the same names.\n",
     "использование: lu14 status [--json] [--device ID] [--wait СЕКУНДЫ]\n"
     "Ждёт прибор, читает его один раз, как это делает окно программы, и выводит\n"
     "идентификатор, версию прошивки и её полноту, напряжение батареи и четыре\n"
     "настройки: auto-save, capacitance, menu-swap и modified-meter.\n"
     "Если приборов несколько и --device не указан, читается первый.\n"
     "--json выводит один объект JSON с теми же именами.\n"},
    {Msg::ListHelp,
     "usage: lu14 list [--json] [--wait SECONDS]\n"
     "Lists every attached meter: its id (the device path, for --device), its\n"
     "identity, its firmware version and whether that firmware is complete.\n"
     "It does not wait for a meter unless --wait is given; with none attached the\n"
     "list is empty and the exit code 0.\n",
     "использование: lu14 list [--json] [--wait СЕКУНДЫ]\n"
     "Показывает все подключённые приборы: id (путь устройства, для --device),\n"
     "идентификатор, версию прошивки и её полноту.\n"
     "Прибор не ждёт, если не указан --wait; если ни один не подключён, список\n"
     "пуст и код выхода 0.\n"},
    {Msg::UpdateHelp,
     "usage: lu14 update [-y|--yes] [--force] [--no-backup] [--ignore-battery]\n"
     "                   [--json] [--device ID | --all]\n"
     "Saves the meter's settings (its EEPROM) to Documents/lu14, never replacing an\n"
     "earlier backup, marks the firmware as being updated, writes the carried\n"
     "firmware {0}, then writes its version and verifies the checksum. Exits 0 only\n"
     "when the meter confirmed everything.\n"
     "On a terminal it first shows the meter and asks; without one it does not ask.\n"
     "A meter that already has firmware {0}, complete, is left alone.\n"
     "It refuses (exit 4) when the settings cannot be saved in the Documents folder,\n"
     "when the battery is low, when several meters are attached and no --device is\n"
     "given, and when this build carries the placeholder image instead of the\n"
     "firmware (allowed with --simulate or LU14_ALLOW_PLACEHOLDER_FIRMWARE=1).\n"
     "  -y, --yes          do not ask before writing\n"
     "  --force            write even when the meter already has this firmware\n"
     "  --no-backup        go on when no settings backup can be saved\n"
     "  --ignore-battery   go on with a low battery\n"
     "Ctrl-C (or SIGTERM, SIGHUP) while the settings are being saved stops at once\n"
     "(exit 5): nothing has been written to the meter yet, and the backup, cut\n"
     "short, is not kept. Once the firmware is being written, it never cuts a chunk:\n"
     "the first one only warns, a second stops between two chunks and exits 5; the\n"
     "meter then asks for an update until one completes.\n"
     "--json writes one JSON line per phase and progress step, then the result.\n"
     "  --all              update every attached meter at once, each with its own\n"
     "                     backup and checks; a meter that fails or is pulled out\n"
     "                     stops alone. Asks once for all of them. Shows a line per\n"
     "                     meter, then a result per meter (--json: an object per\n"
     "                     meter, with \"meter\" and \"identity\", then a summary).\n"
     "                     Exits 0 only when every meter succeeded; otherwise 5 when\n"
     "                     interrupted, else 4 when a meter was refused, else 1.\n",
     "использование: lu14 update [-y|--yes] [--force] [--no-backup] [--ignore-battery]\n"
     "                           [--json] [--device ID | --all]\n"
     "Сохраняет настройки прибора (его EEPROM) в Documents/lu14, не заменяя прежние\n"
     "копии, помечает прошивку как обновляемую, записывает прошивку {0}, затем её\n"
     "версию и проверяет контрольную сумму. Код 0 - только если прибор всё подтвердил.\n"
     "В терминале сначала показывает прибор и спрашивает; без терминала не спрашивает.\n"
     "Прибор, в котором уже полная прошивка {0}, не трогается.\n"
     "Отказывается (код 4), если настройки нельзя сохранить в папке документов, если\n"
     "батарея разряжена, если подключено несколько приборов без --device и если в\n"
     "эту сборку вложена заглушка вместо прошивки (разрешено с --simulate или\n"
     "LU14_ALLOW_PLACEHOLDER_FIRMWARE=1).\n"
     "  -y, --yes          не спрашивать перед записью\n"
     "  --force            записать, даже если в приборе уже эта прошивка\n"
     "  --no-backup        продолжать, если резервную копию сохранить нельзя\n"
     "  --ignore-battery   продолжать при разряженной батарее\n"
     "Ctrl-C (или SIGTERM, SIGHUP) во время сохранения настроек останавливает сразу\n"
     "(код 5): в прибор ещё ничего не записано, а прерванная копия не сохраняется.\n"
     "Во время записи прошивки он никогда не обрывает блок: первый только\n"
     "предупреждает, второй останавливает запись между блоками (код 5); прибор\n"
     "тогда просит обновления, пока одно не завершится.\n"
     "--json выводит по строке JSON на каждый этап и шаг, затем результат.\n"
     "  --all              обновить все подключённые приборы сразу, каждый со своей\n"
     "                     резервной копией и проверками; сбой или отключение\n"
     "                     прибора останавливает только его. Спрашивает один раз\n"
     "                     за все. Показывает строку на прибор, затем итог по\n"
     "                     каждому (--json: объект на прибор с \"meter\" и\n"
     "                     \"identity\", затем сводка). Код 0 - только если успешно\n"
     "                     обновлены все; иначе 5, если прервано, иначе 4, если\n"
     "                     прибор отклонён проверкой, иначе 1.\n"},
    {Msg::OptionHelp,
     "usage: lu14 option NAME on|off [--json] [--device ID]\n"
     "Writes one option and prints the value the meter then holds.\n"
     "  capacitance      voltage change with a capacitance above 1 uF\n"
     "  menu-swap        swap the actions in the menu\n"
     "auto-save and modified-meter are shown by status but cannot be changed.\n",
     "использование: lu14 option ИМЯ on|off [--json] [--device ID]\n"
     "Записывает одну настройку и выводит значение, которое прибор после этого хранит.\n"
     "  capacitance      смена напряжения при ёмкости больше 1 мкФ\n"
     "  menu-swap        поменять действия в меню местами\n"
     "auto-save и modified-meter показываются командой status, но не меняются.\n"},
    {Msg::ChecksumHelp,
     "usage: lu14 checksum [--json] [--device ID]\n"
     "Prints the firmware checksum the meter reports, the checksum of the carried\n"
     "firmware {0} and whether the two match. Exits 0 when they match, 1 when\n"
     "they differ (the meter does not hold the carried firmware).\n",
     "использование: lu14 checksum [--json] [--device ID]\n"
     "Выводит контрольную сумму прошивки, которую сообщает прибор, сумму вложенной\n"
     "прошивки {0} и совпадают ли они. Код 0 - если совпадают, 1 - если нет (в\n"
     "приборе не вложенная прошивка).\n"},
    {Msg::BackupHelp,
     "usage: lu14 backup [--output FILE] [--json] [--device ID]\n"
     "Saves the meter's settings (its 2048 EEPROM bytes) without updating it, in the\n"
     "window's format: 128 lines of 32 hex digits. By default the file goes to\n"
     "Documents/lu14, named <identity><version>_HHMM_DDMMYY.hex after the meter and\n"
     "the time, as before an update; a name already taken gets _2, _3 ...\n"
     "  --output FILE      save to FILE instead; an existing FILE is never replaced\n"
     "                     (refused, exit 4)\n"
     "Prints the file's path (--json: {\"backup\": PATH, ...}). With several meters\n"
     "and no --device it saves the first one's.\n",
     "использование: lu14 backup [--output ФАЙЛ] [--json] [--device ID]\n"
     "Сохраняет настройки прибора (2048 байт его EEPROM) без обновления, в формате\n"
     "окна программы: 128 строк по 32 шестнадцатеричные цифры. Обычно файл ложится в\n"
     "Documents/lu14 с именем <идентификатор><версия>_ЧЧММ_ДДММГГ.hex по прибору и\n"
     "времени, как перед обновлением; к занятому имени добавляется _2, _3 ...\n"
     "  --output ФАЙЛ      сохранить в ФАЙЛ; существующий ФАЙЛ никогда не заменяется\n"
     "                     (отказ, код 4)\n"
     "Выводит путь к файлу (--json: {\"backup\": ПУТЬ, ...}). Если приборов несколько\n"
     "и --device не указан, сохраняется первый.\n"},
    {Msg::RestoreHelp,
     "usage: lu14 restore FILE [--dry-run] [-y|--yes] [--force] [--json] [--device ID]\n"
     "Puts a settings backup back into the meter. The file must be exactly 128 lines\n"
     "of 32 hex digits (CR LF or LF); anything else is refused with the line and\n"
     "column of the first fault (exit 1) before the meter is touched. Then it reads\n"
     "the meter's EEPROM and lists every byte that differs (address, meter, file),\n"
     "grouped as options, battery coefficient and other bytes. The firmware's own\n"
     "bytes (version text 832-836, 958 and the firmware-complete flag 1023) are\n"
     "never written: they are listed as skipped. On a terminal it asks, then writes\n"
     "only the differing bytes and reads each back. Exits 0 only when every one\n"
     "reads back as in the file; a write that fails stops the restore, which says\n"
     "how many bytes were written and read back, which one failed and why, and how\n"
     "many were not tried; running the same command again writes what still differs.\n"
     "A backup named after another meter is refused (exit 4), and so is a file\n"
     "whose name does not say which meter it came from (one saved with --output).\n"
     "  --dry-run          list the differences, write nothing\n"
     "  -y, --yes          do not ask before writing\n"
     "  --force            restore a backup of another meter or of an unnamed one\n"
     "--json prints one JSON object: the differences, the skipped bytes, each byte's\n"
     "result and the account (confirmed, failed, not-tried).\n",
     "использование: lu14 restore ФАЙЛ [--dry-run] [-y|--yes] [--force] [--json]\n"
     "                            [--device ID]\n"
     "Возвращает в прибор резервную копию настроек. Файл должен состоять ровно из\n"
     "128 строк по 32 шестнадцатеричные цифры (CR LF или LF); иначе он отклоняется\n"
     "с указанием строки и столбца первой ошибки (код 1) до обращения к прибору.\n"
     "Затем читается EEPROM прибора и выводится каждый отличающийся байт (адрес,\n"
     "прибор, файл) по группам: настройки, коэффициент батареи, прочие байты.\n"
     "Байты прошивки (текст версии 832-836, 958 и отметка полноты прошивки 1023)\n"
     "никогда не записываются: они показаны как пропущенные. В терминале программа\n"
     "спрашивает, затем записывает только отличающиеся байты и читает каждый обратно.\n"
     "Код 0 - только если каждый прочитался как в файле; неудачная запись\n"
     "останавливает восстановление, и оно сообщает, сколько байт записано и\n"
     "проверено, какой не удался и почему и сколько не записывалось; повтор той же\n"
     "команды записывает то, что ещё отличается.\n"
     "Копия, названная по другому прибору, отклоняется (код 4), как и файл, по имени\n"
     "которого не видно, с какого он прибора (сохранённый с --output).\n"
     "  --dry-run          показать отличия и ничего не записывать\n"
     "  -y, --yes          не спрашивать перед записью\n"
     "  --force            восстановить копию другого прибора или безымянную\n"
     "--json выводит один объект JSON: отличия, пропущенные байты, итог записи\n"
     "каждого байта и счёт (confirmed, failed, not-tried).\n"},
    {Msg::FaultsHeading, "Simulated faults (--simulate=FAULT):\n", "Имитируемые сбои (--simulate=СБОЙ):\n"},
    {Msg::OtherwiseEnglish, "English otherwise", "иначе английский"},
    {Msg::OtherwiseWindowsLanguage,
     "English when it starts otherwise; with none of them set,\n"
     "the language Windows is displayed in (Russian, or else English)",
     "иначе английский; если ни одна\n"
     "не задана - язык интерфейса Windows (русский, иначе английский)"},
    {Msg::UsageLine, "usage: lu14 [OPTIONS] COMMAND [ARGS]; lu14 --help lists them\n",
     "использование: lu14 [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ]; список: lu14 --help\n"},
    {Msg::SeeHelp, "lu14 {0} --help shows its usage", "справка: lu14 {0} --help"},
    {Msg::NoCommand, "no command given; the commands: {0}", "команда не указана; команды: {0}"},
    {Msg::UnknownCommand, "unknown command {0}; the commands: {1}", "неизвестная команда {0}; команды: {1}"},
    {Msg::DidYouMean, "did you mean {0}?", "может быть, {0}?"},
    {Msg::UnknownOption, "unknown option {0}", "неизвестный параметр {0}"},
    {Msg::UnexpectedArgument, "unexpected argument {0}", "лишний аргумент {0}"},
    {Msg::NeedsValue, "{0} needs a value", "параметру {0} нужно значение"},
    {Msg::BadNumber, "{0} takes a whole number from {2} to {3}, not {1}",
     "{0} принимает целое число от {2} до {3}, а не {1}"},
    {Msg::UnknownFault, "unknown simulated fault {0}; the faults: {1}", "неизвестный имитируемый сбой {0}; сбои: {1}"},
    {Msg::SimulationOnly, "{0} works only with --simulate", "{0} работает только с --simulate"},
    {Msg::UnknownOptionName, "unknown option name {0}; the options that can be changed: {1}",
     "неизвестная настройка {0}; изменить можно: {1}"},
    {Msg::OptionReadOnly, "{0} is read-only: status shows it, but it cannot be changed; the options that can be: {1}",
     "{0} только для чтения: status её показывает, но изменить её нельзя; изменить можно: {1}"},
    {Msg::BadOnOff, "the value of an option is on or off, not {0}", "значение настройки - on или off, а не {0}"},
    {Msg::OptionNeedsNameAndValue, "option needs a name ({0}) and on or off",
     "команде option нужны имя ({0}) и on или off"},
    {Msg::CommandLineUnreadable, "the command line cannot be read ({0})", "не удалось разобрать командную строку ({0})"},
    {Msg::FlagTakesNoValue, "{0} takes no value, not {1}", "параметру {0} не нужно значение, а дано {1}"},
    {Msg::RestoreNeedsFile, "restore needs the backup file: lu14 restore FILE",
     "команде restore нужен файл резервной копии: lu14 restore ФАЙЛ"},
    {Msg::ErrorPrefix, "lu14: error: ", "lu14: ошибка: "},
    {Msg::WarningPrefix, "lu14: ", "lu14: "},
    {Msg::WaitingForMeter, "waiting up to {0} s for a meter (USB {1})", "ожидание прибора до {0} с (USB {1})"},
    {Msg::WaitingForDevice, "waiting up to {0} s for the meter {1}", "ожидание прибора {1} до {0} с"},
    {Msg::TryPlugIn,
     "plug the meter in and switch it on; if it is plugged in, try another cable (a charge-only "
     "cable carries no data) or another USB port",
     "подключите прибор и включите его; если он подключён, попробуйте другой кабель (кабель только для "
     "зарядки не передаёт данные) или другой порт USB"},
    {Msg::MeterNotAccessible,
     "no permission to open the meter {0}: install the udev rule 70-lu14-meter.rules "
     "(see resources/linux/README.md), then plug the meter in again",
     "нет прав на открытие прибора {0}: установите правило udev 70-lu14-meter.rules "
     "(см. resources/linux/README.md) и подключите прибор заново"},
    {Msg::NoMeterFound, "no meter found within {0} s; plug it in and run the command again, or wait longer with --wait N",
     "прибор не найден за {0} с; подключите его и повторите команду или ждите дольше: --wait N"},
    {Msg::DeviceNotFound, "the meter {0} is not attached; lu14 list shows the attached ones",
     "прибор {0} не подключён; подключённые показывает lu14 list"},
    {Msg::AttachedMeters, "attached meters:", "подключённые приборы:"},
    {Msg::SeveralMetersRefused, "{0} meters are attached: name the one to write to with --device ID",
     "подключено приборов: {0}; укажите, в какой записывать: --device ID"},
    {Msg::SeveralMetersReadingFirst, "{0} meters are attached; reading {1} (another one: --device ID)",
     "подключено приборов: {0}; читается {1} (другой: --device ID)"},
    {Msg::NoStatusAnswer, "the meter was found but does not answer its status reads",
     "прибор найден, но не отвечает на чтение состояния"},
    {Msg::Interrupted, "interrupted", "прервано"},
    {Msg::LabelIdentity, "identity", "идентификатор"},
    {Msg::LabelFirmware, "firmware", "прошивка"},
    {Msg::LabelBattery, "battery", "батарея"},
    {Msg::LabelOption, "option", "настройка"},
    {Msg::Complete, "(complete)", "(полная)"},
    {Msg::IncompleteRunUpdate, "(incomplete: run lu14 update)", "(неполная: выполните lu14 update)"},
    {Msg::BatteryLowCharge, "(low: charge the battery)", "(разряжена: зарядите батарею)"},
    {Msg::Volts, "V", "В"},
    {Msg::On, "on", "on"},
    {Msg::Off, "off", "off"},
    {Msg::Unknown, "unknown", "неизвестно"},
    {Msg::ListComplete, "complete", "полная"},
    {Msg::ListIncomplete, "incomplete", "неполная"},
    {Msg::ListUnreadable, "does not answer", "не отвечает"},
    {Msg::ListNoMeter, "no meter is attached", "прибор не подключён"},
    {Msg::RefusedPrefix, "update refused: ", "обновление отклонено: "},
    {Msg::RefusedPlaceholder,
     "this build carries the placeholder image made for tests, not the meter's firmware; it is written to "
     "simulated meters only (--simulate), or where {0}=1 is set for a test",
     "в эту сборку вложена заглушка для тестов, а не прошивка прибора; она записывается только в имитатор "
     "(--simulate) или там, где для теста задано {0}=1"},
    {Msg::RefusedBatteryLow,
     "the meter's battery is low ({0} V): an update that stops half-way leaves the meter without firmware; "
     "charge it first, or run lu14 update --ignore-battery",
     "батарея прибора разряжена ({0} В): прерванное обновление оставит прибор без прошивки; сначала "
     "зарядите её или выполните lu14 update --ignore-battery"},
    {Msg::AlreadyCurrent, "the meter already has firmware {0}, complete: nothing to do (--force writes it again)",
     "в приборе уже полная прошивка {0}: делать нечего (--force запишет её снова)"},
    {Msg::AboutToWrite,
     "meter      {0}\n"
     "id         {1}\n"
     "firmware   {2} now, {3} to write\n"
     "battery    {4} V\n",
     "прибор         {0}\n"
     "id             {1}\n"
     "прошивка       сейчас {2}, будет записана {3}\n"
     "батарея        {4} В\n"},
    {Msg::AskToWrite, "Save the settings and write firmware {0} to this meter? [y/N] ",
     "Сохранить настройки и записать прошивку {0} в этот прибор? [д/Н] "},
    {Msg::Declined, "nothing was written: the update was not confirmed", "ничего не записано: обновление не подтверждено"},
    {Msg::PhaseSavingSettings, "saving settings", "сохранение настроек"},
    {Msg::PhaseWriting, "writing firmware", "запись прошивки"},
    {Msg::PhaseVerifying, "verifying", "проверка"},
    {Msg::TimeLeft, "{0} s left", "осталось {0} с"},
    {Msg::SettingsSaved, "settings saved to {0}", "настройки сохранены в {0}"},
    {Msg::FirmwareWritten, "firmware {0} written and verified", "прошивка {0} записана и проверена"},
    {Msg::NoBackupSaved, "no settings backup was saved (--no-backup){0}",
     "резервная копия настроек не сохранена (--no-backup){0}"},
    {Msg::UpdateFailedPrefix, "update failed: ", "обновление не удалось: "},
    {Msg::FailDisconnected, "the meter was disconnected after {0} of {1} bytes; reconnect it and {2}",
     "прибор отключился после {0} из {1} байт; подключите его и {2}"},
    {Msg::FailBackupRead, "cancelled before any firmware was written: the meter's settings could not be read",
     "отменено до записи прошивки: настройки прибора не прочитались"},
    {Msg::FailBackupWrite,
     "refused: the settings backup could not be written{0}; nothing was written to the meter; make room for it, "
     "or run lu14 update --no-backup to go on without one",
     "отказ: резервную копию настроек записать не удалось{0}; в прибор ничего не записано; освободите для неё "
     "место или выполните lu14 update --no-backup, чтобы продолжить без неё"},
    {Msg::FailBackupUnavailableNoFolder,
     "refused: the settings backup cannot be saved: no usable Documents folder{0}; run lu14 update "
     "--no-backup to go on without one",
     "отказ: резервную копию настроек сохранить негде: папка документов недоступна{0}; чтобы продолжить без "
     "неё, выполните lu14 update --no-backup"},
    {Msg::FailBackupUnavailableIn,
     "refused: the settings backup cannot be saved in {0}{1}; make that folder writable, or run lu14 update "
     "--no-backup to go on without one",
     "отказ: резервную копию настроек нельзя сохранить в {0}{1}; разрешите запись в эту папку или выполните "
     "lu14 update --no-backup, чтобы продолжить без неё"},
    {Msg::FailStartNotConfirmed,
     "cancelled before any firmware was written: the meter did not confirm the start of the update",
     "отменено до записи прошивки: прибор не подтвердил начало обновления"},
    {Msg::FailInterrupted,
     "interrupted after {0} of {1} bytes: the meter is marked incomplete and asks for an update until one "
     "completes; {2} to finish",
     "прервано после {0} из {1} байт: прибор помечен как неполный и просит обновления, пока одно не "
     "завершится; чтобы закончить, {2}"},
    {Msg::FailInterruptedBeforeWriting,
     "interrupted while the settings were being saved: nothing was written to the meter, which keeps its firmware",
     "прервано во время сохранения настроек: в прибор ничего не записано, прошивка в нём прежняя"},
    {Msg::FailLinkFailed, "the link to the meter failed after {0} bytes; reconnect the meter and {1}",
     "связь с прибором прервалась после {0} байт; подключите прибор заново и {1}"},
    {Msg::FailChunkNotConfirmed,
     "the meter did not confirm the chunk at byte {0}; reconnect the meter and {1}",
     "прибор не подтвердил блок на байте {0}; подключите прибор заново и {1}"},
    {Msg::UpdateAgainLu14, "run lu14 update again", "снова выполните lu14 update"},
    {Msg::FailVersionText, "the version text was not written", "текст версии не записан"},
    {Msg::FailChecksumMismatch, "the meter's checksum does not match the firmware",
     "контрольная сумма прибора не совпадает с прошивкой"},
    {Msg::FailCompleteMark, "the meter did not take the completion mark", "прибор не принял отметку о завершении"},
    {Msg::FailStillIncomplete, "{0}; the meter asks for an update until one completes",
     "{0}; прибор просит обновления, пока одно не завершится"},
    {Msg::FailDisconnectedBeforeStart, "the meter was disconnected before the update began",
     "прибор отключился до начала обновления"},
    {Msg::FailTimeout, "it did not finish within 10 minutes", "оно не завершилось за 10 минут"},
    {Msg::StopWarning,
     "stopping now would leave the meter without a complete firmware, so the update goes on.\n"
     "Ask to stop again (Ctrl-C, or the same signal) to stop it after the current chunk; the meter\n"
     "then asks for an update until one completes (run lu14 update again).",
     "остановка сейчас оставит прибор без полной прошивки, поэтому обновление продолжается.\n"
     "Попросите остановить ещё раз (Ctrl-C или тот же сигнал), чтобы остановить его после текущего\n"
     "блока; прибор тогда будет просить обновления, пока одно не завершится (снова выполните lu14 update)."},
    {Msg::OptionNotTaken, "the meter did not take the option: {0} reads {1}",
     "прибор не принял настройку: {0} читается как {1}"},
    {Msg::OptionWriteNotConfirmed, ", and the write was not confirmed", ", и запись не подтверждена"},
    {Msg::ChecksumMatches, "checksum   {0} ({1}): the carried firmware {2}",
     "контрольная сумма {0} ({1}): вложенная прошивка {2}"},
    {Msg::ChecksumDiffers, "checksum   {0} ({1}): not the carried firmware {2}, whose checksum is {3}",
     "контрольная сумма {0} ({1}): не вложенная прошивка {2}, у которой сумма {3}"},
    {Msg::ChecksumNoAnswer, "the meter did not answer the checksum request", "прибор не ответил на запрос контрольной суммы"},
    {Msg::LinkNoMeter, "the meter is not connected", "прибор не подключён"},
    {Msg::LinkBusy, "the meter is busy with another command", "прибор занят другой командой"},
    {Msg::OutputExists, "{0} exists: a backup never replaces a file; name another with --output",
     "{0} уже существует: резервная копия никогда не заменяет файл; укажите другое имя в --output"},
    {Msg::BackupNoDocuments,
     "the settings backup cannot be saved: no usable Documents folder{0}; name a file with --output FILE",
     "резервную копию настроек сохранить негде: папка документов недоступна{0}; укажите файл: --output ФАЙЛ"},
    {Msg::BackupFolderUnwritable,
     "the settings backup cannot be saved in {0}{1}; make that folder writable or name a file with --output FILE",
     "резервную копию настроек нельзя сохранить в {0}{1}; разрешите запись в эту папку или укажите файл: "
     "--output ФАЙЛ"},
    {Msg::BackupReadFailed, "the meter's settings could not be read; no backup was saved",
     "настройки прибора не прочитались; резервная копия не сохранена"},
    {Msg::BackupWriteFailed, "the settings backup could not be written to {0}{1}; no backup was saved",
     "резервную копию настроек не удалось записать в {0}{1}; она не сохранена"},
    {Msg::BackupCutShort, "the settings backup was cut short and is not kept",
     "резервная копия настроек прервана на середине и не сохранена"},
    {Msg::BackupOutputIncomplete, "the backup written to standard output is incomplete: do not keep it",
     "резервная копия, выведенная в стандартный вывод, неполна: не храните её"},
    {Msg::OutputDashWithJson, "--output - writes the backup to standard output, where --json writes too",
     "--output - выводит резервную копию в стандартный вывод, куда пишет и --json"},
    {Msg::FileUnreadable, "{0} cannot be read; nothing was written", "{0} не читается; ничего не записано"},
    {Msg::FileTooLarge, "{0} is larger than a settings backup ({1} bytes), so it is not one; nothing was written",
     "{0} больше резервной копии настроек ({1} байт), значит, это не она; ничего не записано"},
    {Msg::FileNotABackup, "{0} is not a settings backup: line {1}, column {2}: {3}; nothing was written",
     "{0} - не резервная копия настроек: строка {1}, столбец {2}: {3}; ничего не записано"},
    {Msg::FileBadCharacter, "{0} where a hex digit belongs", "{0} на месте шестнадцатеричной цифры"},
    {Msg::FileShortLine, "the line ends before its 32 hex digits", "строка кончается раньше 32 цифр"},
    {Msg::FileLongLine, "the line goes on after its 32 hex digits ({0})", "строка продолжается после 32 цифр ({0})"},
    {Msg::FileMissingLines, "the file ends before its 128 lines", "файл кончается раньше 128 строк"},
    {Msg::FileExtraData, "something follows the 128 lines", "после 128 строк есть что-то ещё"},
    {Msg::OtherMetersBackup,
     "{0} is a backup of the meter {1}, not of this one ({2})",
     "{0} - резервная копия прибора {1}, а не этого ({2})"},
    {Msg::NameHoldsNoIdentity,
     "the name of {0} does not say which meter it came from (a backup's name starts with the meter's "
     "identity)",
     "по имени {0} не видно, с какого он прибора (имя резервной копии начинается с идентификатора прибора)"},
    {Msg::ForceRestores, "--force restores it anyway", "--force восстановит его всё равно"},
    {Msg::RestoringAnyway, "restoring it anyway (--force)", "восстанавливается всё равно (--force)"},
    {Msg::DryRunAnyway, "the differences follow all the same (--dry-run writes nothing)",
     "различия показаны всё равно (--dry-run ничего не записывает)"},
    {Msg::FirmwareSinceBackup,
     "the backup was saved with firmware {0}, the meter now has {1}: the firmware's own bytes stay as they are",
     "копия сохранена с прошивкой {0}, в приборе теперь {1}: байты прошивки остаются как есть"},
    {Msg::EepromUnreadable, "the meter's EEPROM could not be read (address {0}); nothing was written",
     "EEPROM прибора не прочиталась (адрес {0}); ничего не записано"},
    {Msg::NothingToRestore, "the meter already holds the settings of {0}: nothing to write",
     "в приборе уже настройки из {0}: записывать нечего"},
    {Msg::DifferencesHeading, "{0} bytes to write from {1}, {2} skipped:",
     "байт к записи из {1}: {0}, пропущено: {2}:"},
    {Msg::GroupOptions, "options", "настройки"},
    {Msg::GroupBatteryCoefficient, "battery coefficient", "коэффициент батареи"},
    {Msg::GroupOther, "other bytes", "прочие байты"},
    {Msg::GroupSkipped, "skipped (written only by a firmware update)",
     "пропущено (записывается только при обновлении прошивки)"},
    {Msg::PartVersionText, "version text", "текст версии"},
    {Msg::PartAfterUpdate, "after-update mark", "отметка после обновления"},
    {Msg::PartFirmwareFlag, "firmware-complete flag", "отметка полноты прошивки"},
    {Msg::DifferenceLine, "  {0}  meter {1}  file {2}{3}", "  {0}  прибор {1}  файл {2}{3}"},
    {Msg::DryRunNothingWritten, "dry run: nothing was written", "пробный запуск: ничего не записано"},
    {Msg::AskToRestore, "Write these {0} bytes into this meter ({1})? [y/N] ",
     "Записать эти байты ({0}) в этот прибор ({1})? [д/Н] "},
    {Msg::RestoreDeclined, "nothing was written: the restore was not confirmed",
     "ничего не записано: восстановление не подтверждено"},
    {Msg::Restored, "{0} bytes written and read back: the meter holds the settings of {1}",
     "записано и проверено байт: {0}; в приборе настройки из {1}"},
    {Msg::RestoreFailed,
     "restore failed at address {0}: {1}; of the {3} bytes to write: {2} written and read back (those before "
     "{0}), 1 failed ({0}), {4} not tried (those after it)",
     "восстановление не удалось на адресе {0}: {1}; из {3} байт к записи: записано и проверено {2} (те, что "
     "до {0}), не удалось 1 ({0}), не записывалось {4} (те, что после него)"},
    {Msg::RestoreInterrupted,
     "interrupted: of the {1} bytes to write: {0} written and read back, {2} not tried (from address {3} on)",
     "прервано: из {1} байт к записи: записано и проверено {0}, не записывалось {2} (начиная с адреса {3})"},
    {Msg::ByteWriteNotConfirmed, "the meter did not confirm the write", "прибор не подтвердил запись"},
    {Msg::ByteWriteNotConfirmedReadsBack, "the meter did not confirm the write (the byte now reads back {0})",
     "прибор не подтвердил запись (байт теперь читается как {0})"},
    {Msg::ByteReadBackFailed, "the byte could not be read back", "байт не прочитался обратно"},
    {Msg::ByteReadBackDiffers, "it reads back {0}", "он читается как {0}"},
    {Msg::RestoreAgain, "run the same command again to write what still differs",
     "чтобы записать то, что ещё отличается, выполните ту же команду снова"},
    {Msg::LinkEventLine, "command {0}: {1}", "команда {0}: {1}"},
    {Msg::LinkResent, "sent again", "отправлена ещё раз"},
    {Msg::LinkReadsFailed, "reading the reply failed twice, read a third time",
     "чтение ответа дважды не удалось, третье чтение"},
    {Msg::LinkGaveUp, "no reply: gave up", "нет ответа: попытки прекращены"},
    {Msg::LinkStillBusy, "the meter stayed busy: gave up", "прибор остался занят: попытки прекращены"},
    {Msg::LinkEchoMismatch, "the meter's echo differs: written again", "эхо прибора отличается: записано снова"},
    {Msg::LinkWrongReportLength, "the device's report length is not the meter's ({0} bytes)",
     "длина отчёта устройства не такая, как у прибора ({0} байт)"},
    {Msg::WriteNotConfirmed, "command {0}: the meter did not confirm the write",
     "команда {0}: прибор не подтвердил запись"},
    {Msg::FaultNoMeter, "no meter is attached", "прибор не подключён"},
    {Msg::FaultLowBattery, "the battery reads 1.2 V", "батарея показывает 1,2 В"},
    {Msg::FaultIncompleteFirmware, "the meter was left in the middle of an update",
     "прибор остался посреди обновления"},
    {Msg::FaultUpToDate, "the meter already has the carried firmware", "в приборе уже вложенная прошивка"},
    {Msg::FaultSumMismatch, "the meter's sum of chunk 1000 is wrong: the update stops",
     "сумма блока 1000 неверна: обновление останавливается"},
    {Msg::FaultUnplugDuringUpdate, "the meter is pulled out while the image streams",
     "прибор отключают во время записи"},
    {Msg::FaultWrongChecksum, "the meter reports a checksum that does not match",
     "прибор сообщает несовпадающую контрольную сумму"},
    {Msg::FaultWriteRefused, "the meter never confirms an EEPROM write", "прибор никогда не подтверждает запись EEPROM"},
    {Msg::ReplayWithSimulate, "--replay and --simulate cannot go together: the recording plays the meter",
     "--replay и --simulate вместе не используются: прибор изображает запись"},
    {Msg::RecordExists, "{0} exists: a recording never replaces a file; name another with --record",
     "{0} уже существует: запись никогда не заменяет файл; укажите другой в --record"},
    {Msg::RecordToOutput,
     "--record needs a file: standard output carries the run's results, which a recording there would mix with",
     "--record нужен файл: в стандартный вывод идут результаты, запись смешалась бы с ними"},
    {Msg::RecordCannotWrite, "cannot write the recording {0}", "не удаётся записать файл записи {0}"},
    {Msg::RecordingIncomplete,
     "the recording {0} could not be written whole (is the disk full?): it ends before the run did; the "
     "result above stands",
     "файл записи {0} не удалось записать целиком (диск заполнен?): он обрывается раньше, чем закончилась "
     "работа; результат выше остаётся в силе"},
    {Msg::ReplayCannotRead, "cannot read the recording {0}", "не удаётся прочитать запись {0}"},
    {Msg::ReplayBadFileAtLine, "{0} is not a recording lu14 can replay: line {1}: {2}",
     "{0} - не запись, которую lu14 может воспроизвести: строка {1}: {2}"},
    {Msg::ReplayBadFile, "{0} is not a recording lu14 can replay: {1}",
     "{0} - не запись, которую lu14 может воспроизвести: {1}"},
    {Msg::RecordingEmpty, "the file is empty", "файл пуст"},
    {Msg::RecordingNotJson, "not a JSON line", "строка не в формате JSON"},
    {Msg::RecordingCutShort, "the file ends in the middle of this line (cut short)",
     "файл обрывается посреди этой строки (запись не полная)"},
    {Msg::RecordingNotObject, "not a JSON object", "не объект JSON"},
    {Msg::RecordingNoHeader, "the first line is not the header of an lu14 recording",
     "первая строка - не заголовок записи lu14"},
    {Msg::RecordingOtherFormat, "a recording in format {0}; this lu14 reads format {1}",
     "запись в формате {0}; эта версия lu14 читает формат {1}"},
    {Msg::RecordingFieldMissing, "the field \"{0}\" is missing", "нет поля \"{0}\""},
    {Msg::RecordingFieldWrongType, "the field \"{0}\" has a wrong value", "неверное значение поля \"{0}\""},
    {Msg::RecordingOutOfOrder, "transfer {0} is out of order", "передача {0} не на своём месте"},
    {Msg::RecordingUnknownLine, "a line of no known kind", "строка неизвестного вида"},
    {Msg::RecordingLineTooLong, "the line is longer than {0} characters, which no recording's line is",
     "строка длиннее {0} символов, а в записи таких строк не бывает"},
    {Msg::ReplayDiverged, "the replay left the recording at transfer {0}:\n  recorded: {1}\n  asked:    {2}",
     "воспроизведение разошлось с записью на передаче {0}:\n  в записи:  {1}\n  запрошено: {2}"},
    {Msg::ReplayPastEnd,
     "the replay left the recording at transfer {0}: the recording ends after {1} transfers\n  asked:    {2}",
     "воспроизведение разошлось с записью на передаче {0}: в записи всего {1} передач\n  запрошено: {2}"},
    {Msg::ReplayTransfer, "{0} {1} on {2}", "{0} {1} на {2}"},
    {Msg::ReplayOtherVersion,
     "the recording was made by lu14 {0}, this is lu14 {1}: this version may ask the meter otherwise",
     "запись сделана lu14 {0}, а это lu14 {1}: эта версия может обращаться к прибору иначе"},
    {Msg::FaultMeterNeedsFault, "--fault-meter works only with --simulate=FAULT",
     "--fault-meter работает только с --simulate=СБОЙ"},
    {Msg::AllOnlyWithUpdate, "--all works only with update", "--all работает только с update"},
    {Msg::AllWithDevice, "--all and --device cannot go together: --all updates every attached meter",
     "--all и --device несовместимы: --all обновляет все подключённые приборы"},
    {Msg::AllWithRecording,
     "--record and --replay work with one meter at a time (the meters of --all would interleave in one "
     "recording): use --device ID",
     "--record и --replay работают с одним прибором (приборы --all перемешались бы в одной записи): "
     "укажите --device ID"},
    {Msg::AllAboutToWrite, "{0} meters to write:", "приборов для записи: {0}"},
    {Msg::AllAskToWrite, "Save each meter's settings and write firmware {0} to these {1} meters? [y/N] ",
     "Сохранить настройки каждого прибора и записать прошивку {0} в эти приборы ({1})? [д/Н] "},
    {Msg::AllReading, "reading the meter", "чтение прибора"},
    {Msg::AllEndedOk, "done", "готово"},
    {Msg::AllEndedFailed, "failed", "неудача"},
    {Msg::AllWritten, "{0}  {1}  ok: firmware {2} written and verified",
     "{0}  {1}  успех: прошивка {2} записана и проверена"},
    {Msg::AllAlreadyCurrent, "{0}  {1}  ok: it already has firmware {2}, complete",
     "{0}  {1}  успех: в приборе уже полная прошивка {2}"},
    {Msg::AllFailed, "{0}  {1}  failed: {2}", "{0}  {1}  неудача: {2}"},
    {Msg::AllSavedTo, "; settings saved to {0}", "; настройки сохранены в {0}"},
    {Msg::AllSummary, "{0} of {1} meters succeeded", "успешно: {0} из {1}"},
    {Msg::PageTitle, "LU-14 tweezers: firmware {0}", "Пинцет ЛУ-14: прошивка {0}"},
    {Msg::PageNoWebHid,
     "This browser cannot reach USB HID devices (WebHID), so it cannot update a meter. Open this page in "
     "Chrome, Edge or Opera on a desktop computer, from https:// or localhost. To try it without a meter, "
     "open it with ?simulate at the end of the address.",
     "Этот браузер не имеет доступа к USB HID-устройствам (WebHID) и не может обновить прибор. Откройте "
     "страницу в Chrome, Edge или Opera на компьютере, по адресу https:// или localhost. Чтобы попробовать "
     "без прибора, добавьте ?simulate в конец адреса."},
    {Msg::PageConnect, "Connect a meter", "Подключить прибор"},
    {Msg::PageSimulated, "simulated meter{0}", "имитация прибора{0}"},
    {Msg::PageNoMeter, "No meter connected", "Прибор не подключён"},
    {Msg::PageMeterConnected, "meter connected", "прибор подключён"},
    {Msg::PageMeterDisconnected, "meter disconnected", "прибор отключён"},
    {Msg::PageChooserFailed, "no meter was chosen: {0}", "прибор не выбран: {0}"},
    {Msg::PageUpdate, "Update the firmware to {0}", "Обновить прошивку до {0}"},
    {Msg::PageStop, "Stop", "Остановить"},
    {Msg::PageStopAsked, "the update stops after the chunk being written",
     "обновление остановится после записываемого блока"},
    {Msg::PageLeaveWarning,
     "The firmware is being written: leaving now leaves the meter without a complete firmware.",
     "Идёт запись прошивки: если уйти сейчас, прошивка прибора останется неполной."},
    {Msg::PageChecksum, "Check the firmware checksum", "Проверить контрольную сумму"},
    {Msg::PageBackup, "Save the settings", "Сохранить настройки"},
    {Msg::PageBackupDownload, "Download the settings backup {0}", "Скачать копию настроек {0}"},
    {Msg::PageRestoreFile, "Restore the settings from a backup file", "Восстановить настройки из файла"},
    {Msg::PageRestoreWrite, "Write these bytes", "Записать эти байты"},
    {Msg::PageRestoreAnyway, "Write it into this meter all the same", "Записать в этот прибор всё равно"},
    {Msg::PageRestoreAnywayNeeded, "{0}; tick \"{1}\" to write it all the same",
     "{0}; чтобы записать всё равно, отметьте \"{1}\""},
    {Msg::PageRestoreChanged,
     "the meter's settings changed since the differences were shown; nothing was written: check them again",
     "настройки прибора изменились после показа различий; ничего не записано: проверьте их снова"},
    {Msg::PageRestoreOtherMeter, "another meter is connected now; nothing was written: choose the file again",
     "теперь подключён другой прибор; ничего не записано: выберите файл снова"},
    {Msg::PageRestoreAgain, "choose the file again to write what still differs",
     "чтобы записать то, что ещё отличается, выберите файл снова"},
    {Msg::PageOptionsHeading, "Options", "Дополнительно"},
    {Msg::PageOptionAutoSave, "Auto-save of the last mode", "Автосохранение последнего режима"},
    {Msg::PageOptionCapacitance, "Change U with a capacitance over 1 uF attached",
     "Изменение U при подключенной емкости >1мкФ"},
    {Msg::PageOptionMenuSwap, "Swapped actions in the menu", "Рокировка действий в меню"},
    {Msg::PageOptionModifiedMeter, "Modified meter (see the forum)", "Доработка прибора ЛУ14 (см. форум)"},
    {Msg::PageOptionSet, "option {0} set {1}", "настройка {0}: {1}"},
    {Msg::PageLog, "Log", "Журнал"},
    {Msg::PagePlaceholderRefused,
     "this page carries the placeholder image made for tests, not the meter's firmware; it writes it to a "
     "real meter only when opened with ?allow-placeholder",
     "страница несёт тестовую заглушку, а не прошивку прибора; в настоящий прибор она записывается, только "
     "если страница открыта с ?allow-placeholder"},
    {Msg::PageBusy, "the meter is busy: wait until the update ends", "прибор занят: дождитесь конца обновления"},
    {Msg::PageUpdateAgain, "press the update button again", "снова нажмите кнопку обновления"},
    {Msg::PageIncomplete, "(incomplete: update it)", "(неполная: обновите её)"},
    {Msg::PageRefusedBatteryLow,
     "the meter's battery is low ({0} V): an update that stops half-way leaves the meter without firmware; "
     "charge it first",
     "батарея прибора разряжена ({0} В): прерванное обновление оставит прибор без прошивки; сначала "
     "зарядите её"},
    {Msg::PageAlreadyCurrent, "the meter already has firmware {0}, complete: nothing to do",
     "в приборе уже полная прошивка {0}: делать нечего"},
};

constexpr bool InOrder() {
  if (std::size(kCatalogue) != static_cast<std::size_t>(Msg::Count)) return false;
  for (std::size_t i = 0; i < std::size(kCatalogue); ++i) {
    if (static_cast<std::size_t>(kCatalogue[i].id) != i) return false;
  }
  return true;
}
static_assert(InOrder(), "the catalogue holds every message once, in the order of Msg");

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

Language LanguageOf(const char* lcAll, const char* lcMessages, const char* lang, Language otherwise) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (Set(value)) return std::string_view(value).starts_with("ru") ? Language::Russian : Language::English;
  }
  return otherwise;
}

Language LanguageFromEnvironment() {
  return LanguageOf(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"), SystemLanguage());
}

std::string_view RawText(Language language, Msg message) {
  const Entry& entry = kCatalogue[static_cast<std::size_t>(message)];
  return language == Language::Russian ? entry.russian : entry.english;
}

std::string Text(Language language, Msg message, std::initializer_list<std::string_view> arguments) {
  const std::string_view pattern = RawText(language, message);
  std::string text;
  text.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    // {N}: the N-th argument (one digit is enough for any message here).
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '0' && pattern[i + 1] <= '9' &&
        pattern[i + 2] == '}') {
      const auto index = static_cast<std::size_t>(pattern[i + 1] - '0');
      if (index < arguments.size()) text += *(arguments.begin() + index);
      i += 2;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

}  // namespace lu14::cli
