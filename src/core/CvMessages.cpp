#include "CvMessages.h"

#include <QHash>

#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace {
std::atomic<bool> Chinese{false};
} // namespace

const QList<TCvMessage>& MessageTable()
{
    static const QList<TCvMessage> table = {
        // Devices: arrival and removal, virtual ports, opening and closing.
        {u"No device found"_s, u"没有找到设备"_s},
        {u"Device %1 was attached"_s, u"设备 %1 已接入"_s},
        {u"Device %1 was removed"_s, u"设备 %1 已移除"_s},
        {u"Device %1 was removed."_s, u"设备 %1 已被移除。"_s},
        {u"Device %1 was opened."_s, u"设备 %1 已打开。"_s},
        {u"Device %1 was closed."_s, u"设备 %1 已关闭。"_s},
        {u"Can not open  %1"_s, u"无法打开  %1"_s},
        {u"Can not close  %1"_s, u"无法关闭  %1"_s},
        {u"Permission denied: add your user to the group that owns the device "
         u"(usually dialout: sudo usermod -aG dialout $USER) and log in again."_s,
         u"没有权限：请把当前用户加入设备所属的用户组（通常是 dialout：sudo usermod -aG dialout $USER），"
         u"然后重新登录。"_s},
        {u"The port is in use by another program."_s, u"串口正被其他程序使用。"_s},
        {u"The device does not exist (unplugged?)."_s, u"设备不存在（已拔出？）。"_s},
        {u"The path is not a serial port."_s, u"该路径不是串口。"_s},
        {u"Linux serial ports have no 1.5 stop bits; 2 stop bits are used."_s,
         u"Linux 串口不支持 1.5 个停止位，已改用 2 个停止位。"_s},
        {u"Device %1 has no modem lines (DTR, RTS, CTS, DSR, RI, CD are not supported); they are not shown."_s,
         u"设备 %1 没有调制解调器控制线（不支持 DTR、RTS、CTS、DSR、RI、CD），因此不显示。"_s},
        {u"Waiting for device %1 to come back; it will be reopened then."_s,
         u"正在等待设备 %1 重新接入，接入后将重新打开。"_s},
        {u"Device %1 is back but can not be opened yet; still waiting."_s,
         u"设备 %1 已重新接入，但暂时无法打开；继续等待。"_s},
        {u"Device %1 is back; reopened."_s, u"设备 %1 已重新接入并重新打开。"_s},
        {u"Virtual port %1 was added"_s, u"已添加虚拟串口 %1"_s},
        {u"Virtual port %1 was added (the settings file could not be written)"_s,
         u"已添加虚拟串口 %1（无法写入设置文件）"_s},
        {u"Can not add virtual port %1: %2"_s, u"无法添加虚拟串口 %1：%2"_s},
        {u"it is listed already"_s, u"它已在列表中"_s},
        {u"the path must be absolute"_s, u"路径必须是绝对路径"_s},
        {u"no such file"_s, u"没有这个文件"_s},
        {u"it is not a character device"_s, u"它不是字符设备"_s},
        {u"its name cannot be listed"_s, u"它的名字无法列出"_s},
        {u"the path is not valid"_s, u"路径无效"_s},
        {u"Can not remove virtual port %1: it is not listed"_s, u"无法移除虚拟串口 %1：它不在列表中"_s},
        {u"Virtual port %1 was removed"_s, u"已移除虚拟串口 %1"_s},
        {u"Path of the port to add (/dev/pts/N, a socat link):"_s,
         u"要添加的串口路径（/dev/pts/N 或 socat 链接）："_s},
        {u"Path of the virtual port to remove:"_s, u"要移除的虚拟串口路径："_s},
        // Custom baud rate.
        {u"Please specify a device for custom baudrate."_s, u"请先选择要设置自定义波特率的设备。"_s},
        {u"Please Input Custom Baudrate:"_s, u"请输入自定义波特率："_s},
        {u"Wrong baud rate,Please input a integer number "_s, u"波特率错误，请输入一个整数 "_s},
        {u"You have set custom baudrate to: %1.                    "_s,
         u"已将自定义波特率设置为：%1。                    "_s},
        {u"You have set custom baudrate to: %1"_s, u"已将自定义波特率设置为：%1"_s},
        // Logs, capture files and folders.
        {u"Can not create folder %1"_s, u"无法创建文件夹 %1"_s},
        {u"Can not save log file %1: %2"_s, u"无法保存日志文件 %1：%2"_s},
        {u"Can not write file %1: %2"_s, u"无法写入文件 %1：%2"_s},
        {u"the file is in use"_s, u"文件正被使用"_s},
        {u"Data file save to %1"_s, u"数据文件保存到 %1"_s},
        {u"Do not find Excel Application "_s, u"没有找到电子表格程序 "_s},
        {u"Can not save %1: %2"_s, u"无法保存 %1：%2"_s},
        {u"Saved %1"_s, u"已保存 %1"_s},
        {u"Save Workbook"_s, u"保存工作簿"_s},
        {u"Unable to write to %1"_s, u"无法写入 %1"_s},
        {u"Unable to write to %1: %2"_s, u"无法写入 %1：%2"_s},
        {u"The settings of this port are not saved: %1 can not be read (%2), and saving would replace "
         u"everything it holds."_s,
         u"此端口的设置未保存：无法读取 %1（%2），保存会覆盖其中的全部内容。"_s},
        {u"The plot settings are not saved: %1 can not be read (%2), and saving would replace everything "
         u"it holds."_s,
         u"曲线设置未保存：无法读取 %1（%2），保存会覆盖其中的全部内容。"_s},
        {u"it does not exist"_s, u"文件不存在"_s},
        {u"it is not a regular file"_s, u"它不是普通文件"_s},
        {u"it is larger than %1 MiB"_s, u"文件大于 %1 MiB"_s},
        {u"it has more than %1 lines"_s, u"文件超过 %1 行"_s},
        {u"Do you want to save the changes you made to %1?"_s, u"要保存对 %1 所做的更改吗？"_s},
        // Finding in the log.
        {u"Found in line %1."_s, u"在第 %1 行找到。"_s},
        {u"Search wrapped past the end to the top; found in line %1."_s,
         u"已越过末尾从顶部继续查找；在第 %1 行找到。"_s},
        {u"Search wrapped past the top to the end; found in line %1."_s,
         u"已越过顶部从末尾继续查找；在第 %1 行找到。"_s},
        {u"Not found: \"%1\""_s, u"没有找到：“%1”"_s},
        {u"Type the text to find."_s, u"请输入要查找的文字。"_s},
        {u"Searching..."_s, u"正在查找……"_s},
        // Checksums and the protocol conversion page.
        {u"Invalid hex at byte %1: \"%2\". Write each byte as two hex digits, one blank between bytes (01 A2 FF)."_s,
         u"第 %1 个字节的十六进制无效：“%2”。每个字节请写两位十六进制数，字节之间用一个空格隔开（01 A2 FF）。"_s},
        {u"Invalid hex after byte %1: \"%2\" where a blank should be. Write each byte as two hex digits, one "
         u"blank "
         u"between bytes (01 A2 FF)."_s,
         u"第 %1 个字节后应为空格，却是“%2”。每个字节请写两位十六进制数，字节之间用一个空格隔开（01 A2 FF）。"_s},
        {u"The block holds no bytes to check."_s, u"数据块中没有可校验的字节。"_s},
        {u"Address text longer than %1 bytes: %2 bytes dropped"_s,
         u"地址文本超过 %1 个字节：丢弃了 %2 个字节"_s},
        {u"Data text longer than %1 bytes: %2 bytes dropped"_s,
         u"数据文本超过 %1 个字节：丢弃了 %2 个字节"_s},
        // HID devices.
        {u"Can not open HID device %1: %2"_s, u"无法打开 HID 设备 %1：%2"_s},
        {u"permission denied. Install the udev rule that lets the logged-in user open HID devices "
         u"(60-corvane-hidraw.rules, see README) and plug the device in again."_s,
         u"没有权限。请安装允许当前登录用户打开 HID 设备的 udev 规则（60-corvane-hidraw.rules，见 README），"
         u"然后重新插入设备。"_s},
        {u"the device is in use by another program."_s, u"设备正被其他程序使用。"_s},
        {u"the device is gone (unplugged?)."_s, u"设备已不存在（已拔出？）。"_s},
        {u"it does not answer as a HID device."_s, u"它不是 HID 设备。"_s},
        {u"HID device %1 was unplugged and closed."_s, u"HID 设备 %1 已拔出并关闭。"_s},
        {u"HID device %1 stopped reading: %2"_s, u"HID 设备 %1 停止读取：%2"_s},
        {u"read failed"_s, u"读取失败"_s},
        {u"HID send: only the first %1 bytes are sent, %2 more were cut."_s,
         u"HID 发送：只发送前 %1 个字节，其余 %2 个字节被截去。"_s},
        {u"HID send: the output report holds %1 bytes; %2 more were not sent."_s,
         u"HID 发送：输出报告只有 %1 个字节，其余 %2 个字节未发送。"_s},
        {u"Can not write to HID device %1: it is not open."_s, u"无法写入 HID 设备 %1：设备未打开。"_s},
        {u"Can not write to HID device %1: the report was not written."_s,
         u"无法写入 HID 设备 %1：报告未写入。"_s},
        {u"Can not write to HID device %1: it has no output report."_s,
         u"无法写入 HID 设备 %1：设备没有输出报告。"_s},
        // File sending.
        {u"No device is found,please open a device."_s, u"没有找到设备，请先打开一个设备。"_s},
        {u"Device was closed,please open a device."_s, u"设备已关闭，请先打开一个设备。"_s},
        {u"File Name: %1"_s, u"文件名：%1"_s},
        {u"File Size: %1 Bytes"_s, u"文件大小：%1 字节"_s},
        {u"This file have been loaded,press the left-bottom button to start sending"_s,
         u"文件已载入，按左下方的按钮开始发送"_s},
        {u"This file size is too biger,only support less then 5M size file."_s,
         u"文件太大，只支持小于 5M 的文件。"_s},
        {u"> Start Sending File:%1"_s, u"> 开始发送文件：%1"_s},
        {u"Sending file: %1 / %2 Bytes (%3%)"_s, u"正在发送文件：%1 / %2 字节（%3%）"_s},
        {u"%1 of %2 bytes were sent."_s, u"已发送 %2 字节中的 %1 字节。"_s},
        {u"File have been sent successfully。"_s, u"文件发送成功。"_s},
        {u"File sending cancelled: %1"_s, u"文件发送已取消：%1"_s},
        {u"File sending stopped: the device was closed. %1"_s, u"文件发送已停止：设备已关闭。%1"_s},
        {u"File sending stopped: %1"_s, u"文件发送已停止：%1"_s},
        {u"File sending stopped: the file could not be read to its end (%1). %2"_s,
         u"文件发送已停止：无法把文件读到结尾（%1）。%2"_s},
        {u"it ended after %1 bytes, shorter than when it was loaded"_s,
         u"文件在 %1 字节处结束，比载入时短"_s},
        {u"%1 turns of loop sending were skipped while the file was sent."_s,
         u"发送文件期间跳过了 %1 次循环发送。"_s},
        {u"A file is being sent: other sends wait until it has ended."_s,
         u"正在发送文件：其他发送将等到文件发送结束。"_s},
        // Sending: hex and text input, writes, acknowledgements, loop sending.
        {u"Not hex byte text: %1 at position %2."_s, u"不是十六进制字节文本：第 %2 个字符处%1。"_s},
        {u"\"0x\" without digits"_s, u"“0x”后面没有数字"_s},
        {u"\"%1\" is not a hex digit"_s, u"“%1”不是十六进制数字"_s},
        {u"the digit \"%1\" has no partner (a byte is two digits)"_s,
         u"数字“%1”不成对（一个字节是两位数字）"_s},
        {u"\"%1\" at position %2 has no bytes in %3: nothing was sent."_s,
         u"第 %2 个字符“%1”无法用 %3 编码：未发送任何数据。"_s},
        {u"The text holds more than %1 bytes: %2 bytes were not sent."_s,
         u"文本超过 %1 字节：有 %2 字节未发送。"_s},
        {u"Nothing was sent."_s, u"未发送任何数据。"_s},
        {u"Sorry Write to device fail!!"_s, u"抱歉，写入设备失败！！"_s},
        {u"(%1) %2 of %3 bytes were written."_s, u"（%1）已写入 %3 字节中的 %2 字节。"_s},
        {u"The device was closed: the transfer stopped."_s, u"设备已关闭：传输已停止。"_s},
        {u"A transfer is waiting for its acknowledgement: this one was not sent."_s,
         u"另一次传输正在等待应答：本次未发送。"_s},
        {u"No acknowledgement of packet %1 of %2 within %3 ms: the transfer stopped."_s,
         u"第 %1 个数据包（共 %2 个）在 %3 毫秒内没有应答：传输已停止。"_s},
        {u"The chart keeps the last %1 points: older ones are dropped from now on (the oldest kept is X %2)."_s,
         u"波形图只保留最后 %1 个点：从现在起丢弃更早的点（保留的最早一点 X 为 %2）。"_s},
        {u"The plot could not keep up with the data: %1 lines were left out of it (the log shows them all)."_s,
         u"曲线跟不上数据：有 %1 行没有画进曲线（日志中全部保留）。"_s},
        {u"The plot keeps the last %1 points of each channel: older ones are dropped from now on."_s,
         u"曲线图每个通道只保留最后 %1 个点：从现在起丢弃更早的点。"_s},
        {u"Can not save the plot settings to %1: %2"_s, u"无法把曲线图设置保存到 %1：%2"_s},
        {u"the plot does not fit a worksheet"_s, u"曲线图超出一个工作表的容量"_s},
        {u"Received bytes that are not valid %1 text are shown as \uFFFD (%2 so far)."_s,
         u"收到的不是有效 %1 文本的字节显示为 \uFFFD（目前共 %2 个）。"_s},
        {u"The Loop enable switch is not be checked."_s, u"没有勾选循环发送开关。"_s},
        {u"The device was closed,please open a device."_s, u"设备已关闭，请先打开一个设备。"_s},
        {u"No data to send, please select data item by click checkbox item."_s,
         u"没有要发送的数据，请点击复选框选择数据项。"_s},
        {u"The following data will be sent to device periodic,Loop Count: %1"_s,
         u"以下数据将周期性地发送到设备，循环次数：%1"_s},
        {u"Loop sending skips its turns while a file is being sent."_s,
         u"正在发送文件：循环发送跳过这些轮次。"_s},
        {u"Loop turn skipped: the device has not taken the data of the last turn yet."_s,
         u"跳过一轮循环发送：设备还没有接收完上一轮的数据。"_s},
        {u"Loop Count --> %1"_s, u"循环次数 --> %1"_s},
        {u"Protocol write: %1 Nothing was sent."_s, u"协议写入：%1 未发送任何数据。"_s},
        {u"Timed out: the device took no data"_s, u"超时：设备没有接收数据"_s},
        {u"Stopped before the end"_s, u"在结束前已停止"_s},
        {u"HID send: %1 Nothing was sent."_s, u"HID 发送：%1 未发送任何数据。"_s},
        // Network ports: connections, their failures, and the list of network ports.
        {u"Connecting to %1 ..."_s, u"正在连接 %1 ..."_s},
        {u"Connected to %1."_s, u"已连接到 %1。"_s},
        {u"Can not connect to %1: %2"_s, u"无法连接到 %1：%2"_s},
        {u"Connection to %1 lost: %2"_s, u"与 %1 的连接已断开：%2"_s},
        {u"Dialling %1 again in %2 s."_s, u"%2 秒后重新连接 %1。"_s},
        {u"the connection was refused"_s, u"连接被拒绝"_s},
        {u"the peer closed the connection"_s, u"对方关闭了连接"_s},
        {u"the host name could not be resolved"_s, u"无法解析主机名"_s},
        {u"no answer within %1 s"_s, u"%1 秒内没有应答"_s},
        {u"the network or the host is unreachable"_s, u"网络或主机不可达"_s},
        {u"Can not listen on %1: %2"_s, u"无法在 %1 上监听：%2"_s},
        {u"the address to listen on must be an IP address"_s, u"监听地址必须是 IP 地址"_s},
        {u"Listening on %1; waiting for a client."_s, u"正在 %1 上监听，等待客户端连接。"_s},
        {u"Refused a connection from %1: client %2 is connected already."_s,
         u"已拒绝来自 %1 的连接：客户端 %2 已经连接。"_s},
        {u"Client %1 connected."_s, u"客户端 %1 已连接。"_s},
        {u"Client %1 disconnected; waiting for the next one."_s, u"客户端 %1 已断开，等待下一个客户端。"_s},
        {u"The server at %1 does not take COM port control; line settings and modem lines stay as the "
         u"server has them."_s,
         u"%1 上的服务器不接受串口控制；线路设置和调制解调器控制线保持服务器当前的状态。"_s},
        {u"The server at %1 runs at %2 baud instead of %3."_s, u"%1 上的服务器以 %2 波特运行，而不是 %3。"_s},
        {u"The server at %1 keeps asking for Telnet options that were refused, or switching them on and off; "
         u"it is not answered any more."_s,
         u"%1 上的服务器不断请求已被拒绝的 Telnet 选项，或反复开关选项；不再应答它。"_s},
        {u"The server at %1 sent a subnegotiation of more than %2 bytes without its end; it was dropped and "
         u"what follows is read as data."_s,
         u"%1 上的服务器发送了超过 %2 字节且没有结束的子协商；已丢弃该子协商，其后的字节按数据读取。"_s},
        {u"it does not read what is sent to it (%1 bytes wait)"_s,
         u"对方不读取发给它的数据（%1 字节在等待）"_s},
        {u"%1 bytes were not sent to %2: it did not take them within %3 s of the close."_s,
         u"有 %1 字节没有发送到 %2：关闭后 %3 秒内对方没有接收。"_s},
        {u"Network port %1 was added"_s, u"已添加网络端口 %1"_s},
        {u"Network port %1 was added (the settings file could not be written)"_s,
         u"已添加网络端口 %1（无法写入设置文件）"_s},
        {u"Network port %1 is listed already"_s, u"网络端口 %1 已在列表中"_s},
        {u"Can not add network port: %1"_s, u"无法添加网络端口：%1"_s},
        {u"the host is not a valid name or address"_s, u"主机不是有效的名称或地址"_s},
        {u"the port must be between 1 and 65535"_s, u"端口必须在 1 到 65535 之间"_s},
        {u"Network port %1 was removed"_s, u"已移除网络端口 %1"_s},
        {u"The selected device is not a network port."_s, u"所选设备不是网络端口。"_s},
    };
    return table;
}

void SetMessageLanguage(const QString& Lang)
{
    Chinese = Lang != u"EN"_s;
}

QString MessageLanguage()
{
    return Chinese ? u"CN"_s : u"EN"_s;
}

QString Msg(const QString& English)
{
    return Msg(English, MessageLanguage());
}

QString Msg(const QString& English, const QString& Lang)
{
    if (Lang == u"EN"_s) return English;
    static const QHash<QString, QString> chinese = [] {
        QHash<QString, QString> h;
        for (const TCvMessage& m : MessageTable()) h.insert(m.English, m.Chinese);
        return h;
    }();
    return chinese.value(English, English);
}
