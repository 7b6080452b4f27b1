<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>AxisTitle</name>
    <message>
        <source>Время, мс</source>
        <translation>Time, ms</translation>
    </message>
    <message>
        <source>Время, с</source>
        <translation>Time, s</translation>
    </message>
    <message>
        <source>Температура</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>единицы АЦП</source>
        <translation>ADC units</translation>
    </message>
    <message>
        <source>Выборки</source>
        <translation>Samples</translation>
    </message>
    <message>
        <source>Время, мкс</source>
        <translation>Time, µs</translation>
    </message>
</context>
<context>
    <name>TimeUnit</name>
    <message>
        <source>мкс</source>
        <translation>µs</translation>
    </message>
    <message>
        <source>мс</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>с</source>
        <translation>s</translation>
    </message>
</context>
<context>
    <name>acquisition::InstrumentLink</name>
    <message>
        <source>USB: нет связи</source>
        <translation>USB: no link</translation>
    </message>
    <message>
        <source>АЦП не обнаружено</source>
        <translation>No ADC board found</translation>
    </message>
</context>
<context>
    <name>acquisition::SamplingParameters</name>
    <message>
        <source>Fвыборки, Гц&lt;</source>
        <translation>Fsampling, Hz&lt;</translation>
    </message>
    <message>
        <source>Fвыборки, Гц&gt;</source>
        <translation>Fsampling, Hz&gt;</translation>
    </message>
    <message>
        <source>Tизмерения, мс&gt;%1</source>
        <translation>Tmeasuring, ms&gt;%1</translation>
    </message>
    <message>
        <source>Tизмерения, мс&lt;%1</source>
        <translation>Tmeasuring, ms&lt;%1</translation>
    </message>
    <message>
        <source>или %1 мин %2 c %3 мс</source>
        <translation>or %1 min %2 s %3 ms</translation>
    </message>
    <message>
        <source>Fвыборки,Гц=%1</source>
        <translation>Fsampling,Hz=%1</translation>
    </message>
    <message>
        <source>Tизмерения,мc=%1</source>
        <translation>Tmeasuring,ms=%1</translation>
    </message>
    <message>
        <source>Параметры для МК: d1=%1,d2=%2</source>
        <translation>MC parameters: d1=%1,d2=%2</translation>
    </message>
    <message>
        <source>Fвыборки канала,Гц=%1</source>
        <translation>Channel Fsampling,Hz=%1</translation>
    </message>
</context>
<context>
    <name>app::CataloguePanel</name>
    <message>
        <source>Пропущено файлов: %1 (%2)</source>
        <translation>Files skipped: %1 (%2)</translation>
    </message>
    <message>
        <source>Найдено за показанной частью комментария: %1, строка %2</source>
        <translation>Found beyond the part of the comment shown: %1, line %2</translation>
    </message>
    <message>
        <source>Не удалось дочитать комментарий: %1</source>
        <translation>Could not read the whole comment: %1</translation>
    </message>
    <message>
        <source>Недопустимый аргумент при кодировании даты</source>
        <translation>Invalid argument to date encode</translation>
    </message>
</context>
<context>
    <name>app::ChartExport</name>
    <message>
        <source>Печать</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>Экспорт в PDF</source>
        <translation>Export to PDF</translation>
    </message>
    <message>
        <source>Не удаётся открыть буфер обмена</source>
        <translation>Cannot open clipboard</translation>
    </message>
    <message>
        <source>Не удаётся начать задание печати на «%1»</source>
        <translation>The print job could not be started on &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Не удаётся отправить задание печати на «%1»</source>
        <translation>The print job could not be sent to &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Не удаётся начать файл PDF %1</source>
        <translation>The PDF file %1 could not be started</translation>
    </message>
    <message>
        <source>Печать в файл: %1</source>
        <translation>Printed to file: %1</translation>
    </message>
    <message>
        <source>Отправлено на печать: %1</source>
        <translation>Sent to the printer: %1</translation>
    </message>
    <message>
        <source>Экспорт в PDF: %1</source>
        <translation>Exported to PDF: %1</translation>
    </message>
    <message>
        <source>Не удаётся отправить задание печати на «%1»: %2</source>
        <translation>The print job could not be sent to &quot;%1&quot;: %2</translation>
    </message>
</context>
<context>
    <name>app::ContextHelp</name>
    <message>
        <source>Справка Ferrun</source>
        <translation>Ferrun Help</translation>
    </message>
</context>
<context>
    <name>app::CursorReadout</name>
    <message>
        <source>ФД</source>
        <translation>FD</translation>
    </message>
</context>
<context>
    <name>app::CycleControl</name>
    <message>
        <source>Измерение завершено: свободной оперативной памяти менее 512К</source>
        <translation>Measurement ended: less than 512K of free memory</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>ЦИКЛ</source>
        <translation>CYCLE</translation>
    </message>
    <message>
        <source>Цикл отброшен: байты от платы после конца записи. Сохранённые циклы до него верны</source>
        <translation>Cycle discarded: bytes from the board after the end of the recording. The cycles stored before it are good</translation>
    </message>
    <message>
        <source>Цикл не записан на диск, измерение завершено: %1</source>
        <translation>The cycle could not be written to disk, the measurement has ended: %1</translation>
    </message>
</context>
<context>
    <name>app::FileControl</name>
    <message>
        <source>Приём массива прерван: данные неполны и не сохраняются</source>
        <translation>Transfer of the array interrupted: the data are incomplete and are not saved</translation>
    </message>
    <message>
        <source>Идёт обмен с АЦП: откройте файл после окончания измерения</source>
        <translation>The board is busy: open the file when the measurement has ended</translation>
    </message>
    <message>
        <source>Комментарий</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>ФАЙЛ </source>
        <translation>FILE </translation>
    </message>
    <message>
        <source>Сохранить так</source>
        <translation>Save as it is</translation>
    </message>
    <message>
        <source>Вернуться к комментарию</source>
        <translation>Back to the comment</translation>
    </message>
    <message>
        <source>В комментарии есть знаки, которых нет в кодировке файла данных (Windows-1251): %1
В файле они будут заменены на «?».</source>
        <translation>The comment holds characters that the data file&apos;s encoding (Windows-1251) lacks: %1
The file will have &quot;?&quot; in their place.</translation>
    </message>
    <message>
        <source>Сохранено: %1</source>
        <translation>Saved: %1</translation>
    </message>
    <message>
        <source>Циклы сохранены в файл %1</source>
        <translation>Cycles saved to the file %1</translation>
    </message>
    <message>
        <source>Сохранено файлов циклов: %1 (%2 … %3)</source>
        <translation>Cycle files saved: %1 (%2 … %3)</translation>
    </message>
    <message>
        <source>Нет новых циклов для сохранения</source>
        <translation>No new cycles to save</translation>
    </message>
    <message>
        <source>Экспорт в CSV: %1</source>
        <translation>Exported to CSV: %1</translation>
    </message>
    <message>
        <source>Файлы АЦП (*.kdx)</source>
        <translation>ADC files (*.kdx)</translation>
    </message>
    <message>
        <source>Текстовый файл (*.csv *.txt)</source>
        <translation>Save to Text file (*.csv *.txt)</translation>
    </message>
    <message>
        <source>Все файлы (*)</source>
        <translation>All files (*)</translation>
    </message>
</context>
<context>
    <name>app::Overlays</name>
    <message>
        <source>Наложить запись</source>
        <translation>Overlay a recording</translation>
    </message>
    <message>
        <source>выборки</source>
        <translation>samples</translation>
    </message>
    <message>
        <source>это папка, а не файл данных</source>
        <translation>it is a folder, not a data file</translation>
    </message>
    <message>
        <source>файл не открывается: %1</source>
        <translation>the file cannot be opened: %1</translation>
    </message>
    <message>
        <source>это не обычный файл, а устройство или канал</source>
        <translation>it is a device or a pipe, not a regular file</translation>
    </message>
    <message>
        <source>это не файл данных АЦП (поле типа %1 вместо 1)</source>
        <translation>it is not an ADC data file (type field %1 instead of 1)</translation>
    </message>
    <message>
        <source>это не файл данных АЦП</source>
        <translation>it is not an ADC data file</translation>
    </message>
    <message>
        <source>файл обрывается: %1 байт из %2</source>
        <translation>the file is cut short: %1 bytes of %2</translation>
    </message>
    <message>
        <source>Запись не наложена на график:
</source>
        <translation>The recording was not laid over the chart:
</translation>
    </message>
    <message>
        <source>Записи не наложены на график:
</source>
        <translation>The recordings were not laid over the chart:
</translation>
    </message>
    <message>
        <source>Сдвиг по оси X, %1:</source>
        <translation>Shift along the X axis, %1:</translation>
    </message>
    <message>
        <source>Наложенная запись сдвигается вправо на это значение</source>
        <translation>The overlaid recording is shifted right by this value</translation>
    </message>
</context>
<context>
    <name>app::RecoveryDialog</name>
    <message>
        <source>Несохранённые записи</source>
        <translation>Unsaved recordings</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Длина, байт</source>
        <translation>Length, bytes</translation>
    </message>
    <message>
        <source>Комментарий</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Несохранённых записей нет</source>
        <translation>There are no unsaved recordings</translation>
    </message>
    <message>
        <source>Что</source>
        <translation>What</translation>
    </message>
    <message>
        <source>заменена до сохранения</source>
        <translation>replaced before it was saved</translation>
    </message>
    <message>
        <source>не сохранена</source>
        <translation>not saved</translation>
    </message>
    <message>
        <source>сбой передачи</source>
        <translation>failed transfer</translation>
    </message>
    <message>
        <source>циклы</source>
        <translation>cycles</translation>
    </message>
    <message>
        <source>циклы, идёт измерение</source>
        <translation>cycles, measurement under way</translation>
    </message>
</context>
<context>
    <name>app::RegionCursors</name>
    <message>
        <source>Поставить курсор A</source>
        <translation>Set cursor A</translation>
    </message>
    <message>
        <source>Поставить курсор B</source>
        <translation>Set cursor B</translation>
    </message>
    <message>
        <source>Сменить активный курсор</source>
        <translation>Switch the active cursor</translation>
    </message>
    <message>
        <source>Убрать курсоры</source>
        <translation>Remove the cursors</translation>
    </message>
</context>
<context>
    <name>app::RegionPanel</name>
    <message>
        <source>°C/с</source>
        <translation>°C/s</translation>
    </message>
    <message>
        <source>ед./с</source>
        <translation>units/s</translation>
    </message>
    <message>
        <source>°C/выборку</source>
        <translation>°C/sample</translation>
    </message>
    <message>
        <source>ед./выборку</source>
        <translation>units/sample</translation>
    </message>
    <message>
        <source>Курсоры</source>
        <translation>Cursors</translation>
    </message>
    <message>
        <source>Свернуть или развернуть таблицу</source>
        <translation>Fold or unfold the table</translation>
    </message>
    <message>
        <source>Копировать</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>1/|Δx|, Гц</source>
        <translation>1/|Δx|, Hz</translation>
    </message>
    <message>
        <source>Канал</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>Мин.</source>
        <translation>Min.</translation>
    </message>
    <message>
        <source>Макс.</source>
        <translation>Max.</translation>
    </message>
    <message>
        <source>Среднее</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>Наклон,
</source>
        <translation>Slope,
</translation>
    </message>
    <message>
        <source>X, выборки</source>
        <translation>X, samples</translation>
    </message>
    <message>
        <source>выб.</source>
        <translation>smp.</translation>
    </message>
    <message>
        <source> Гц</source>
        <translation> Hz</translation>
    </message>
    <message>
        <source>Ctrl+щелчок по графику ставит курсор A, Shift+щелчок — курсор B; линию курсора можно перетащить мышью. С фокусом на графике: A и B ставят курсор под мышью (или на четверть и три четверти видимой части), ← и → сдвигают активный курсор на точку, с Shift — на 10 точек, с Ctrl — на десятую часть видимой части, Home и End — к её краям; пробел меняет активный курсор, Esc убирает курсоры.</source>
        <translation>Ctrl+click on the chart places cursor A, Shift+click cursor B; a cursor&apos;s line can be dragged with the mouse. With the chart focused: A and B place a cursor under the mouse (or at a quarter and three quarters of the visible part), ← and → move the active cursor by a point, with Shift by 10 points, with Ctrl by a tenth of the visible part, Home and End to its ends; Space switches the active cursor, Esc removes the cursors.</translation>
    </message>
    <message>
        <source>Копировать координаты курсоров и таблицу в буфер обмена как текст с табуляциями</source>
        <translation>Copy the cursors&apos; X and the table to the clipboard as tab-separated text</translation>
    </message>
</context>
<context>
    <name>app::SessionPresenter</name>
    <message>
        <source>ПЕРЕДАЧА МАССИВА, %1с</source>
        <translation>TRANSFERRING THE ARRAY, %1 s</translation>
    </message>
    <message>
        <source>Сбой передачи: лишние байты от платы, запись неверна</source>
        <translation>Transfer fault: surplus bytes from the board, the recording is wrong</translation>
    </message>
    <message>
        <source>Плата отключена</source>
        <translation>Board disconnected</translation>
    </message>
    <message>
        <source>Нет ответа от платы</source>
        <translation>No reply from the board</translation>
    </message>
    <message>
        <source>Сбой передачи: ответ платы неполон, запись неверна</source>
        <translation>Transfer fault: the board&apos;s reply is incomplete, the recording is wrong</translation>
    </message>
    <message>
        <source>Измерение завершено без данных</source>
        <translation>The measurement ended without data</translation>
    </message>
    <message>
        <source>Сбой передачи: байты от платы после конца записи, запись неверна</source>
        <translation>Transfer fault: bytes from the board after the end of the recording, the recording is wrong</translation>
    </message>
    <message>
        <source>Подстройка усилителя фототока</source>
        <translation>Tuning the photocurrent amplifier</translation>
    </message>
    <message>
        <source>Комментарий</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>ИЗМЕРЕНИЕ</source>
        <translation>MEASURING</translation>
    </message>
    <message>
        <source>Цикл №%1</source>
        <translation>Cycle no. %1</translation>
    </message>
    <message>
        <source>Измерение отменено</source>
        <translation>Measurement cancelled</translation>
    </message>
    <message>
        <source>ПОСТРОЕНИЕ ГРАФИКА</source>
        <translation>DRAWING THE CHART</translation>
    </message>
</context>
<context>
    <name>app::TForm1</name>
    <message>
        <source>Настройка ФД</source>
        <translation>FD tuning</translation>
    </message>
    <message>
        <source>Щелкните по незанятой части окна для разворачивания/сворачивания окна</source>
        <translation>Click a free part of the window to unfold or fold the window</translation>
    </message>
    <message>
        <source>Имитатор платы не запущен: %1</source>
        <translation>The board simulator did not start: %1</translation>
    </message>
    <message>
        <source>Комментарий</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>ОПЦИИ</source>
        <translation>OPTIONS</translation>
    </message>
    <message>
        <source>Щелкните для отображения X,Y</source>
        <translation>Click to show X,Y</translation>
    </message>
    <message>
        <source>ПУСК ИЗМЕРЕНИЯ</source>
        <translation>START</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Открыть файл…</source>
        <translation>Open file…</translation>
    </message>
    <message>
        <source>Последние файлы</source>
        <translation>Recent files</translation>
    </message>
    <message>
        <source>Несохранённые записи…</source>
        <translation>Unsaved recordings…</translation>
    </message>
    <message>
        <source>Предыдущий файл в папке</source>
        <translation>Previous file in the folder</translation>
    </message>
    <message>
        <source>Следующий файл в папке</source>
        <translation>Next file in the folder</translation>
    </message>
    <message>
        <source>Поиск в комментариях…</source>
        <translation>Find in comments…</translation>
    </message>
    <message>
        <source>Сохранить…</source>
        <translation>Save…</translation>
    </message>
    <message>
        <source>Экспорт в CSV…</source>
        <translation>Export to CSV…</translation>
    </message>
    <message>
        <source>Экспорт в PDF…</source>
        <translation>Export to PDF…</translation>
    </message>
    <message>
        <source>Печать…</source>
        <translation>Print…</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Отменить измерение</source>
        <translation>Cancel the measurement</translation>
    </message>
    <message>
        <source>Наложить запись…</source>
        <translation>Overlay a recording…</translation>
    </message>
    <message>
        <source>Убрать наложения</source>
        <translation>Remove the overlays</translation>
    </message>
    <message>
        <source>Новая запись</source>
        <translation>New recording</translation>
    </message>
    <message>
        <source>7 термопар, фотодиод</source>
        <translation>7 thermocouples, photodiode</translation>
    </message>
    <message>
        <source>Язык / Language</source>
        <translation>Language / Язык</translation>
    </message>
    <message>
        <source>Язык окна сменится при следующем запуске программы.</source>
        <translation>The window&apos;s language changes when the program is next started.</translation>
    </message>
    <message>
        <source>Выбор F/T</source>
        <translation>F/T choice</translation>
    </message>
    <message>
        <source>Отображение</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>Считать данные из памяти платы АЦП</source>
        <translation>Read the data from the ADC board&apos;s memory</translation>
    </message>
    <message>
        <source>Фотодиод</source>
        <translation>Photodiode</translation>
    </message>
    <message>
        <source>Щелкнуть для отображения/скрытия X,Y и цифровых сигналов</source>
        <translation>Click to show or hide X,Y and the digital signals</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Управление контроллером</source>
        <translation>Controller</translation>
    </message>
    <message>
        <source>Опции</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>Сохранить данные в файл</source>
        <translation>Save the data to a file</translation>
    </message>
    <message>
        <source>Открыть файл данных</source>
        <translation>Open a data file</translation>
    </message>
    <message>
        <source>Копировать комментарий в буфер обмена</source>
        <translation>Copy the comment to the clipboard</translation>
    </message>
    <message>
        <source>Просмотреть комментарии ко всем  файлам в папке</source>
        <translation>View the comments of all the files in the folder</translation>
    </message>
    <message>
        <source>Подключить АЦП к компьютеру</source>
        <translation>Connect the ADC board to the computer</translation>
    </message>
    <message>
        <source>Внешний запуск по фронту</source>
        <translation>External start on the rising edge</translation>
    </message>
    <message>
        <source>Выбрать частоту выборки / время измерения</source>
        <translation>Choose the sampling frequency / measuring time</translation>
    </message>
    <message>
        <source>ЦИКЛ</source>
        <translation>CYCLE</translation>
    </message>
    <message>
        <source>500 байт</source>
        <translation>500 bytes</translation>
    </message>
    <message>
        <source>Режимы измерения, сохранения, сглаживания</source>
        <translation>Measuring, saving and smoothing modes</translation>
    </message>
    <message>
        <source>Справка: щелкните затем по элементу окна</source>
        <translation>Help: then click a part of the window</translation>
    </message>
    <message>
        <source>См. Flash-ролик GrafTour о масштабировании и прокрутке графика</source>
        <translation>See the GrafTour Flash film on zooming and scrolling the chart</translation>
    </message>
    <message>
        <source>Копировать</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Показывать X, Y под курсором</source>
        <translation>Show X, Y under the cursor</translation>
    </message>
    <message>
        <source>Продолжительность:</source>
        <translation>Duration:</translation>
    </message>
    <message>
        <source>Прошло:</source>
        <translation>Elapsed:</translation>
    </message>
    <message>
        <source>Осталось:</source>
        <translation>Remaining:</translation>
    </message>
    <message>
        <source>Для открытия файла выполните двойной щелчок по любому слову в комментарии, относящемся к выбираемому файлу:</source>
        <translation>To open a file, double-click any word of the comment that belongs to it:</translation>
    </message>
    <message>
        <source>ИСКАТЬ </source>
        <translation>FIND </translation>
    </message>
    <message>
        <source>Введите слово или его фрагмент, который необходимо разыскать в комментариях ко всем файлам папки</source>
        <translation>Type a word or a part of one to look for in the comments of all the files in the folder</translation>
    </message>
    <message>
        <source>регистр</source>
        <translation>case</translation>
    </message>
    <message>
        <source>Поставьте галочку, если при поиске надо учитывать регистр</source>
        <translation>Check to match letter case in the search</translation>
    </message>
    <message>
        <source>Поиск</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>Старт поиска</source>
        <translation>Start the search</translation>
    </message>
    <message>
        <source>Открыть файл</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>Открыть файл, на тексте комментария которого установлен курсор</source>
        <translation>Open the file whose comment holds the text cursor</translation>
    </message>
    <message>
        <source>Папка</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>Выбрать папку</source>
        <translation>Choose a folder</translation>
    </message>
    <message>
        <source>Вернуться к последнему графику</source>
        <translation>Back to the last chart</translation>
    </message>
    <message>
        <source>Отобразить КАНАЛЫ</source>
        <translation>Show CHANNELS</translation>
    </message>
    <message>
        <source>Оси графика</source>
        <translation>Chart axes</translation>
    </message>
    <message>
        <source>Ось Y:ЗНАЧЕНИЯ, ось X: ВРЕМЯ</source>
        <translation>Y axis: VALUES, X axis: TIME</translation>
    </message>
    <message>
        <source>Ось Y: ед.АЦП,      ось X: ВЫБОРКИ</source>
        <translation>Y axis: ADC units, X axis: SAMPLES</translation>
    </message>
    <message>
        <source>Ось Y:ЗНАЧЕНИЯ, ось X: ВЫБОРКИ</source>
        <translation>Y axis: VALUES, X axis: SAMPLES</translation>
    </message>
    <message>
        <source>Ось Y: ед.АЦП,      ось X: ВРЕМЯ</source>
        <translation>Y axis: ADC units, X axis: TIME</translation>
    </message>
    <message>
        <source>ЦВЕТ канала на графике</source>
        <translation>Channel COLOUR on the chart</translation>
    </message>
    <message>
        <source>Интегрирование</source>
        <translation>Integration</translation>
    </message>
    <message>
        <source>по</source>
        <translation>over</translation>
    </message>
    <message>
        <source>Время в    Диапазон</source>
        <translation>Time in    Range</translation>
    </message>
    <message>
        <source>мкс</source>
        <translation>µs</translation>
    </message>
    <message>
        <source>мс</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>с</source>
        <translation>s</translation>
    </message>
    <message>
        <source>Дискретность изменения Fвыборки, Гц</source>
        <translation>Step of the sampling frequency, Hz</translation>
    </message>
    <message>
        <source>ЦИКЛ: показать</source>
        <translation>CYCLE: show</translation>
    </message>
    <message>
        <source>каждую</source>
        <translation>every</translation>
    </message>
    <message>
        <source>-ю</source>
        <translation>-th</translation>
    </message>
    <message>
        <source>точку</source>
        <translation>point</translation>
    </message>
    <message>
        <source>Очищать график</source>
        <translation>Clear the chart</translation>
    </message>
    <message>
        <source>В один файл</source>
        <translation>Into one file</translation>
    </message>
    <message>
        <source>Ось Т°</source>
        <translation>T° axis</translation>
    </message>
    <message>
        <source>Верхний предел оси температуры</source>
        <translation>Upper limit of the temperature axis</translation>
    </message>
    <message>
        <source>Нижний предел оси температуры</source>
        <translation>Lower limit of the temperature axis</translation>
    </message>
    <message>
        <source>Частота выборки / Время измерения</source>
        <translation>Sampling frequency / Measuring time</translation>
    </message>
    <message>
        <source>Fвыборки, Гц</source>
        <translation>Fsampling, Hz</translation>
    </message>
    <message>
        <source>Допустимый диапазон: 75Гц...546133Гц</source>
        <translation>Allowed range: 75 Hz...546133 Hz</translation>
    </message>
    <message>
        <source>Тизмерения, мс</source>
        <translation>Tmeasuring, ms</translation>
    </message>
    <message>
        <source>Максимальное время 3212,842с.</source>
        <translation>Longest time 3212.842 s.</translation>
    </message>
    <message>
        <source>Число выборок в серии</source>
        <translation>Samples in a series</translation>
    </message>
    <message>
        <source>От 30000 до 240000, шаг изменения 30000</source>
        <translation>From 30000 to 240000 in steps of 30000</translation>
    </message>
    <message>
        <source>Усреднять по 16-ти выборкам в МК</source>
        <translation>Average 16 samples in the MC</translation>
    </message>
    <message>
        <source>ИСТИННЫЕ ЗНАЧЕНИЯ:</source>
        <translation>TRUE VALUES:</translation>
    </message>
    <message>
        <source>Несохранённая запись не записана в папку восстановления: %1</source>
        <translation>The unsaved recording was not written to the recovery folder: %1</translation>
    </message>
    <message>
        <source>Сохранить запись?</source>
        <translation>Save the recording?</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Не сохранять</source>
        <translation>Don&apos;t save</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Не удаётся записать в %1</source>
        <translation>Unable to write to %1</translation>
    </message>
    <message>
        <source> — при следующем запуске</source>
        <translation> — from the next start</translation>
    </message>
    <message>
        <source>Копировать график в буфер обмена (рисунок SVG и PNG)</source>
        <translation>Copy the chart to the clipboard (an SVG and PNG picture)</translation>
    </message>
    <message>
        <source>Циклы измерения, прерванного без сохранения, сохранены в списке «Несохранённые записи…»:
%1</source>
        <translation>The cycles of a measurement that ended without saving them are kept in “Unsaved recordings…”:
%1</translation>
    </message>
    <message>
        <source>Завершить (ФД)</source>
        <translation>Finish (FD)</translation>
    </message>
    <message>
        <source>Запуск от компьютера</source>
        <translation>Start from the computer</translation>
    </message>
    <message>
        <source>Запуск по сигналу фотодиода</source>
        <translation>Start on the photodiode&apos;s signal</translation>
    </message>
    <message>
        <source>%1
Файл %2 содержит эту запись.</source>
        <translation>%1
The file %2 holds this recording.</translation>
    </message>
    <message>
        <source>Запись неполна: сбой передачи</source>
        <translation>Recording incomplete: transfer fault</translation>
    </message>
</context>
<context>
    <name>app::WriteFailure</name>
    <message>
        <source>это не обычный файл, а устройство или канал</source>
        <translation>it is a device or a pipe, not a regular file</translation>
    </message>
    <message>
        <source>Не удаётся создать файл %1</source>
        <translation>Cannot create file %1</translation>
    </message>
    <message>
        <source>Не удаётся создать файл %1: %2</source>
        <translation>Cannot create file %1: %2</translation>
    </message>
    <message>
        <source>Ошибка записи в файл %1</source>
        <translation>Cannot write file %1</translation>
    </message>
    <message>
        <source>Ошибка записи в файл %1: %2</source>
        <translation>Cannot write file %1: %2</translation>
    </message>
    <message>
        <source>Не удаётся прочитать сохранённые циклы для файла %1</source>
        <translation>Cannot read the stored cycles for file %1</translation>
    </message>
    <message>
        <source>Не удаётся прочитать сохранённые циклы для файла %1: %2</source>
        <translation>Cannot read the stored cycles for file %1: %2</translation>
    </message>
</context>
<context>
    <name>chart::Overlay</name>
    <message>
        <source>выб.</source>
        <translation>smp.</translation>
    </message>
</context>
<context>
    <name>chart::Report</name>
    <message>
        <source>dd.MM.yyyy HH:mm:ss</source>
        <comment>the date format of the recording&apos;s time (QDateTime)</comment>
        <translation>d MMM yyyy HH:mm:ss</translation>
    </message>
    <message>
        <source>Записано: %1</source>
        <translation>Recorded: %1</translation>
    </message>
    <message>
        <source>Частота выборки: %1 Гц (%2 Гц на канал)</source>
        <translation>Sampling frequency: %1 Hz (%2 Hz per channel)</translation>
    </message>
    <message>
        <source>Выборок: %1 (%2 на канал)</source>
        <translation>Samples: %1 (%2 per channel)</translation>
    </message>
    <message>
        <source>Длительность: %1 с</source>
        <translation>Duration: %1 s</translation>
    </message>
    <message>
        <source>Каналы: %1</source>
        <translation>Channels: %1</translation>
    </message>
    <message>
        <source>Усреднение в МК: по 16 выборкам</source>
        <translation>Averaging in the controller: over 16 samples</translation>
    </message>
    <message>
        <source>Усреднение в МК: нет</source>
        <translation>Averaging in the controller: none</translation>
    </message>
    <message>
        <source>Диапазон: %1</source>
        <translation>Range: %1</translation>
    </message>
</context>
<context>
    <name>chart::TChart</name>
    <message>
        <source>Серия %1</source>
        <translation>Series %1</translation>
    </message>
</context>
<context>
    <name>chart::TChartAxis</name>
    <message>
        <source>Минимум оси должен быть не больше максимума</source>
        <translation>Axis Minimum Value must be &lt;= Maximum</translation>
    </message>
</context>
<context>
    <name>files::Catalogue</name>
    <message>
        <source>… (комментарий длиннее, показано байт: %1 из %2)</source>
        <translation>… (the comment is longer, bytes shown: %1 of %2)</translation>
    </message>
    <message>
        <source>Выберите путь, содержащий файлы </source>
        <translation>Choose a path that holds files </translation>
    </message>
</context>
<context>
    <name>files::DataFile</name>
    <message>
        <source>Приложение открывает файлы *.kdx, записанные АЦП. Для просмотра выбранного файла используйте универсальное приложение ViewKDX.exe</source>
        <translation>The program opens *.kdx files written by the ADC board. To view the chosen file use the general program ViewKDX.exe</translation>
    </message>
    <message>
        <source>Не удаётся открыть файл %1</source>
        <translation>Cannot open file %1</translation>
    </message>
    <message>
        <source>Ошибка чтения потока</source>
        <translation>Stream read error</translation>
    </message>
    <message>
        <source>Не удаётся открыть файл %1: это не обычный файл</source>
        <translation>Cannot open file %1: not a regular file</translation>
    </message>
</context>
<context>
    <name>files::FolderBrowser</name>
    <message>
        <source>Больше нет файлов</source>
        <translation>No more files</translation>
    </message>
</context>
</TS>
