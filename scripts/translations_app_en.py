#!/usr/bin/env python3
"""Fills translations/app_en.ts with the English texts of the window.

Run after `cmake --build <dir> --target kelm-update-translations` has added
new source texts; a text without an entry here stays unfinished (and the
translation test says which).
"""
import sys
import xml.etree.ElementTree as ET

EN = {
    ("kelm::MessageBoxes", "提示"): "Notice",
    ("kelm::NetworkPorts", "请选择端口类型。"): "Choose the kind of port.",
    ("kelm::NetworkPorts", "请输入主机名或IP地址。"): "Enter a host name or IP address.",
    ("kelm::NetworkPorts", "端口号必须是1到65535之间的数字。"): "The port must be a number from 1 to 65535.",
    ("kelm::NetworkPorts", "主机地址无效：%1"): "Invalid host address: %1",
    ("kelm::NetworkPorts", "无法创建目录 %1"): "Cannot create the folder %1",
    ("kelm::NetworkPorts", "无法写入 %1"): "Cannot write %1",
    ("kelm::Pnl_comset", "串口号："): "Port:",
    ("kelm::Pnl_comset", "协  议："): "Protocol:",
    ("kelm::Pnl_comset", "波特率："): "Baud rate:",
    ("kelm::Pnl_comset", "数据位："): "Data bits:",
    ("kelm::Pnl_comset", "停止位："): "Stop bits:",
    ("kelm::Pnl_comset", "校验位："): "Parity:",
    ("kelm::Pnl_comset", "串口配置：%1"): "Serial format: %1",
    ("kelm::Pnl_comset", "串口参数"): "Port settings",
    ("kelm::Pnl_comset", "终端串口信息"): "Module serial settings",
    ("kelm::Pnl_comset", "查询串口信息"): "Find settings",
    ("kelm::Pnl_comset",
     "\n说明：\n1、模块默认地址为1，通讯参数为RTU/9600bps/8bit/2stop/None；\n"
     "2、如果忘记通讯参数配置，请先选择RTU协议，单击“查询串口信息”按\n"
     "钮自动查询，若失败后切换ASCII协议再重复操作；\n"
     "3、使用该功能时通讯口下只能有一个模块；\n"):
    "\nNotes:\n1. A module's default address is 1, its settings RTU/9600bps/8bit/2stop/None.\n"
    "2. If a module's settings are forgotten, choose the RTU protocol and click\n"
    "\"Find settings\"; if that fails, switch to ASCII and try again.\n"
    "3. Only one module may be on the line while this runs.\n",
    ("kelm::Pnl_comset", "地址：%1"): "Address: %1",
    ("kelm::Pnl_comset", "打开串口"): "Open port",
    ("kelm::Pnl_comset", "关闭串口"): "Close port",
    ("kelm::Pnl_comset", "高级>>"): "Advanced >>",
    ("kelm::Pnl_comset", "高级<<"): "Advanced <<",
    ("kelm::Pnl_comset", "警告"): "Warning",
    ("kelm::Pnl_comset", "串口不存在或被占用！"): "The port does not exist or is in use!",
    ("kelm::Pnl_comset", "主机串口丢失，需要手动重启，是否关闭程序？"):
    "The host port was lost and must be restarted by hand. Close the program?",
    ("kelm::Pnl_comset", "串口没有打开！"): "The port is not open!",
    ("kelm::Pnl_comset", "正在查询通讯参数..."): "Looking for the module's settings...",
    ("kelm::Pnl_comset", "串口意外关闭！"): "The port closed unexpectedly!",
    ("kelm::Pnl_comset", "通讯错误，需要更换主机串口协议或检查通讯连接线路！"):
    "No answer: change the host protocol or check the wiring!",
    ("kelm::Pnl_comset", "网络端口（TCP 透传）：波特率和校验位在设备服务器上设置，此处不起作用。"):
    "Network port (raw TCP): baud rate and parity are set on the device server; these have no effect.",
    ("kelm::Pnl_comset", "网络端口（RFC 2217）：串口参数通过网络发送到设备服务器。"):
    "Network port (RFC 2217): the serial settings are sent to the device server.",
    ("kelm::Pnl_comset", "网络端口（Modbus TCP 网关）：串口参数在网关上设置，此处不起作用；只支持 RTU 协议。"):
    "Network port (Modbus TCP gateway): the serial settings are set on the gateway and have no effect here; RTU only.",
    ("kelm::Pnl_comset", "Modbus TCP 网关只转发 RTU 帧，不能使用 ASCII 协议。请选择 RTU 协议。"):
    "A Modbus TCP gateway forwards RTU frames only, not ASCII. Choose the RTU protocol.",
    ("kelm::Status", "正在扫描终端数据......"): "Reading the module......",
    ("kelm::Status", "当前终端通讯响应正常!"): "The module answers normally!",
    ("kelm::TFMmain", "扫描终端"): "Scan bus",
    ("kelm::TFMmain", "关于"): "About",
    ("kelm::TFMmain", "退出"): "Exit",
    ("kelm::TFMmain", "通讯监视"): "Monitor",
    ("kelm::TFMmain", "趋势图"): "Trend",
    ("kelm::TFMmain", "界面语言"): "Language",
    ("kelm::TFMmain", "支持型号："): "Supported models:",
    ("kelm::TFMmain", "警告"): "Warning",
    ("kelm::TFMmain", "网络端口设置无法保存：%1"): "The network ports cannot be saved: %1",
    ("kelm::TFMmain", "该网络端口已存在：%1"): "This network port is listed already: %1",
    ("kelm::TFMmain", "网络端口太多，无法再添加。"): "Too many network ports; no more can be added.",
    ("kelm::TFMmain", "加入趋势图"): "Add to trend",
    ("kelm::TFMmain", "语言设置无法保存：%1"): "The language choice cannot be saved: %1",
    ("kelm::TFMmain", "添加网络端口..."): "Add network port...",
    ("kelm::TFMmain", "删除网络端口"): "Remove network port",
    ("kelm::TFMmonitor", "字符"): "characters",
    ("kelm::TFMmonitor", "字节"): "bytes",
    ("kelm::TFMmonitor", "（收到 %1，应为 %2）"): " (got %1, expected %2)",
    ("kelm::TFMmonitor", "，表行 "): ", row ",
    ("kelm::TFMmonitor", "（%1）"): " (%1)",
    ("kelm::TFMmonitor", "，无匹配表行（功能码%1，寄存器%2，字节数%3）"):
    ", no matching row (function %1, register %2, byte count %3)",
    ("kelm::TFMmonitor", "（尚无请求）"): "(no request yet)",
    ("kelm::TFMmonitor", "地址%1 功能码%2 寄存器%3"): "address %1 function %2 register %3",
    ("kelm::TFMmonitor", "，"): ", ",
    ("kelm::TFMmonitor", " …（共%1字节）"): " … (%1 bytes in all)",
    ("kelm::TFMmonitor", "串口未打开，未发出"): "port not open, not sent",
    ("kelm::TFMmonitor", "丢弃："): "Dropped: ",
    ("kelm::TFMmonitor", "送扫描处理 "): "to the scan ",
    ("kelm::TFMmonitor", "送链路检测 "): "to the link check ",
    ("kelm::TFMmonitor", "送 "): "to ",
    ("kelm::TFMmonitor", "太短（%1%2，至少5）"): "too short (%1 %2, at least 5)",
    ("kelm::TFMmonitor", "太长（%1%2，至多256）"): "too long (%1 %2, at most 256)",
    ("kelm::TFMmonitor", "CRC校验错误"): "CRC error",
    ("kelm::TFMmonitor", "LRC校验错误"): "LRC error",
    ("kelm::TFMmonitor", "ASCII字符数为奇数（冒号与回车换行之间%1个）"):
    "odd number of ASCII characters (%1 between the colon and CR LF)",
    ("kelm::TFMmonitor", "含非十六进制字符（第%1个字符）"): "non-hex character (character %1)",
    ("kelm::TFMmonitor", "含非十六进制字符"): "non-hex character",
    ("kelm::TFMmonitor", "未选择协议，无法校验"): "no protocol chosen, cannot check",
    ("kelm::TFMmonitor", "地址0的应答，但不是链路检测的应答"): "reply from address 0 outside the link check",
    ("kelm::TFMmonitor", "来自地址%1，尚未选择模块"): "from address %1, no module selected",
    ("kelm::TFMmonitor", "来自地址%1，不是所选模块（地址%2）"): "from address %1, not the selected module (address %2)",
    ("kelm::TFMmonitor", " 没有登记处理程序"): " has no handler registered",
    ("kelm::TFMmonitor", "尚未选择模块型号，没有应答处理程序"): "no model selected, no reply handler",
    ("kelm::TFMmonitor", "型号“%1”没有应答处理程序"): "no reply handler for model \"%1\"",
    ("kelm::TFMmonitor", "在处理上一应答期间到达"): "arrived while the previous reply was handled",
    ("kelm::TFMmonitor", "送趋势图轮询"): "to the trend polling",
    ("kelm::TFMmonitor", "趋势图轮询超时后迟到的应答"): "late reply after a trend poll timed out",
    ("kelm::TFMmonitor", "（应答功能码%1与之不同）"): " (reply function %1 differs)",
    ("kelm::TFMmonitor", "无匹配表行"): "no row",
    ("kelm::TFMmonitor", "太短"): "too short",
    ("kelm::TFMmonitor", "太长"): "too long",
    ("kelm::TFMmonitor", "CRC错误"): "CRC error",
    ("kelm::TFMmonitor", "LRC错误"): "LRC error",
    ("kelm::TFMmonitor", "奇数长度"): "odd length",
    ("kelm::TFMmonitor", "非十六进制"): "non-hex",
    ("kelm::TFMmonitor", "未选协议"): "no protocol",
    ("kelm::TFMmonitor", "非链路检测的广播应答"): "broadcast reply outside the link check",
    ("kelm::TFMmonitor", "非所选地址"): "other address",
    ("kelm::TFMmonitor", "无处理程序"): "no handler",
    ("kelm::TFMmonitor", "处理中到达"): "arrived while busy",
    ("kelm::TFMmonitor", "轮询迟到应答"): "late poll reply",
    ("kelm::TFMmonitor", "发送"): "Sent",
    ("kelm::TFMmonitor", "接收"): "Recv",
    ("kelm::TFMmonitor", "时间(ms)"): "Time (ms)",
    ("kelm::TFMmonitor", "方向"): "Dir.",
    ("kelm::TFMmonitor", "长度"): "Length",
    ("kelm::TFMmonitor", "字节（十六进制）"): "Bytes (hex)",
    ("kelm::TFMmonitor", "ASCII文本"): "ASCII text",
    ("kelm::TFMmonitor", "说明"): "Meaning",
    ("kelm::TFMmonitor", "结论"): "Verdict",
    ("kelm::TFMmonitor", "所依据的请求"): "Request",
    ("kelm::TFMmonitor", "通讯监视"): "Communication monitor",
    ("kelm::TFMmonitor", "继续"): "Resume",
    ("kelm::TFMmonitor", "暂停"): "Pause",
    ("kelm::TFMmonitor", "清除"): "Clear",
    ("kelm::TFMmonitor", "保存..."): "Save...",
    ("kelm::TFMmonitor", "计数"): "Counters",
    ("kelm::TFMmonitor", "从站地址"): "Address",
    ("kelm::TFMmonitor", "接受"): "Accepted",
    ("kelm::TFMmonitor", "丢弃"): "Dropped",
    ("kelm::TFMmonitor", "丢弃原因"): "Reasons",
    ("kelm::TFMmonitor", "发送 %1 帧\u3000接受 %2 帧\u3000丢弃 %3 帧"):
    "Sent %1 frames   accepted %2   dropped %3",
    ("kelm::TFMmonitor", "："): ": ",
    ("kelm::TFMmonitor", "\n显示 %1 帧（最多保留最近 %2 帧）"):
    "\nShowing %1 frames (the latest %2 at most are kept)",
    ("kelm::TFMmonitor", "\u3000已暂停，未记录 %1 帧"): "   paused, %1 frames not recorded",
    ("kelm::TFMmonitor", "未知"): "unknown",
    ("kelm::TFMmonitor", "0（广播）"): "0 (broadcast)",
    ("kelm::TFMmonitor", "保存通讯记录"): "Save the frames",
    ("kelm::TFMmonitor", "文本文件 (*.txt);;所有文件 (*)"): "Text files (*.txt);;All files (*)",
    ("kelm::TFMmonitor", "警告"): "Warning",
    ("kelm::TFMmonitor", "保存失败：%1\n%2"): "Saving failed: %1\n%2",
    ("kelm::TFMnetport", "添加网络端口"): "Add network port",
    ("kelm::TFMnetport", "类型："): "Kind:",
    ("kelm::TFMnetport", "主机："): "Host:",
    ("kelm::TFMnetport", "端口："): "Port:",
    ("kelm::TFMnetport", "确定"): "OK",
    ("kelm::TFMnetport", "取消"): "Cancel",
    ("kelm::TFMnetport", "警告"): "Warning",
    ("kelm::TFMnetport", "该网络端口已存在：%1"): "This network port is listed already: %1",
    ("kelm::TFMserching", "扫描在线终端"): "Scan for modules",
    ("kelm::TFMserching", "扫描间隔区间500-5000ms！"): "The scan interval must be 500-5000 ms!",
    ("kelm::TFMserching", "终端扫描完毕！"): "Scan finished!",
    ("kelm::TFMserching", "扫描间隔："): "Interval:",
    ("kelm::TFMserching", "开始地址："): "Start at:",
    ("kelm::TFMserching", "扫描地址："): "Address:",
    ("kelm::TFMserching", "开始"): "Start",
    ("kelm::TFMserching", "停止"): "Stop",
    ("kelm::TFMtrend", "尽快"): "ASAP",
    ("kelm::TFMtrend", "0.2 秒"): "0.2 s",
    ("kelm::TFMtrend", "0.5 秒"): "0.5 s",
    ("kelm::TFMtrend", "1 秒"): "1 s",
    ("kelm::TFMtrend", "2 秒"): "2 s",
    ("kelm::TFMtrend", "5 秒"): "5 s",
    ("kelm::TFMtrend", "10 秒"): "10 s",
    ("kelm::TFMtrend", "1 分钟"): "1 min",
    ("kelm::TFMtrend", "开/关"): "on/off",
    ("kelm::TFMtrend", "次"): "counts",
    ("kelm::TFMtrend", "%1计数"): "%1 count",
    ("kelm::TFMtrend", "趋势图"): "Trend",
    ("kelm::TFMtrend", "开始"): "Start",
    ("kelm::TFMtrend", "停止"): "Stop",
    ("kelm::TFMtrend", "间隔："): "Interval:",
    ("kelm::TFMtrend", "暂停显示"): "Freeze view",
    ("kelm::TFMtrend", "跟随最新"): "Follow latest",
    ("kelm::TFMtrend", "记录到文件..."): "Log to file...",
    ("kelm::TFMtrend", "停止记录"): "Stop logging",
    ("kelm::TFMtrend", "通道："): "Channels:",
    ("kelm::TFMtrend", "加入"): "Add",
    ("kelm::TFMtrend", "移除"): "Remove",
    ("kelm::TFMtrend", "时间"): "Time",
    ("kelm::TFMtrend", "（单位未知）"): "(unit unknown)",
    ("kelm::TFMtrend", "无法写入记录文件“%1”：%2。记录已停止，趋势图继续运行。"):
    "Cannot write the log file \"%1\": %2. Logging stopped; the trend goes on.",
    ("kelm::TFMtrend", "警告"): "Warning",
    ("kelm::TFMtrend", "记录到文件"): "Log to file",
    ("kelm::TFMtrend", "CSV 文件 (*.csv)"): "CSV files (*.csv)",
    ("kelm::TFMtrend", "无法打开记录文件“%1”：%2。"): "Cannot open the log file \"%1\": %2.",
    ("kelm::TFMtrend", "轮询中"): "Polling",
    ("kelm::TFMtrend", "已停止"): "Stopped",
    ("kelm::TFMtrend", "，%1 个通道，%2 轮，%3 次无应答"): ", %1 channels, %2 rounds, %3 unanswered",
    ("kelm::TFMtrend", "，显示已暂停"): ", view frozen",
    ("kelm::TFMtrend", "，记录到 %1（%2 行）"): ", logging to %1 (%2 rows)",
    ("kelm::TFMtrend", "。"): ". ",
    ("kelm::TFMtrend", "\n%1：%2"): "\n%1: %2",
    ("kelm::TFmabout", "关于软件"): "About",
    ("kelm::TFmabout", " 本软件用于我公司KELM系列远程IO模块的参数配置及调试，"):
    " Configures and tests our KELM remote I/O modules;",
    ("kelm::TFmabout", "模块的接线、寄存器定义等详细说明请参阅模块用户手册，"):
    "for wiring and registers, see the modules' manuals.",
    ("kelm::TFmabout", "勿用于非法用途，感谢您的使用！"): "Do not use it unlawfully. Thank you!",
    ("kelm::TFmabout", "版本：%1"): "Version: %1",
    ("kelm::TFmabout", "KELM 自动化"): "KELM Automation",
    ("kelm::TksPortConfigDialog", "%1 属性"): "%1 Properties",
    ("kelm::TksPortConfigDialog", "确定"): "OK",
    ("kelm::TksPortConfigDialog", "取消"): "Cancel",
    ("kelm::TksPortConfigDialog", "硬件"): "Hardware",
    ("kelm::TksPortConfigDialog", "无"): "None",
    ("kelm::TksPortConfigDialog", "奇"): "Odd",
    ("kelm::TksPortConfigDialog", "偶"): "Even",
    ("kelm::TksPortConfigDialog", "标记"): "Mark",
    ("kelm::TksPortConfigDialog", "空格"): "Space",
    ("kelm::TksPortConfigDialog", "每秒位数(B):"): "&Bits per second:",
    ("kelm::TksPortConfigDialog", "数据位(D):"): "&Data bits:",
    ("kelm::TksPortConfigDialog", "奇偶校验(P):"): "&Parity:",
    ("kelm::TksPortConfigDialog", "停止位(S):"): "&Stop bits:",
    ("kelm::TksPortConfigDialog", "数据流控制(F):"): "&Flow control:",
}


def main(path):
    tree = ET.parse(path)
    missing = []
    for ctx in tree.getroot().findall("context"):
        name = ctx.find("name").text
        for msg in ctx.findall("message"):
            src = msg.find("source").text or ""
            tr = msg.find("translation")
            key = (name, src)
            if key in EN:
                tr.text = EN[key]
                tr.attrib.pop("type", None)
            elif tr.get("type") == "unfinished":
                missing.append(key)
    tree.write(path, encoding="utf-8", xml_declaration=True)
    # lupdate's own header line.
    text = open(path, encoding="utf-8").read()
    text = text.replace("<?xml version='1.0' encoding='utf-8'?>", '<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>', 1)
    open(path, "w", encoding="utf-8").write(text + ("" if text.endswith("\n") else "\n"))
    for m in missing:
        print("no English for %s: %r" % m, file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "translations/app_en.ts"))
