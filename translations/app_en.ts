<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>kelm::MessageBoxes</name>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
</context>
<context>
    <name>kelm::NetworkPorts</name>
    <message>
        <source>请选择端口类型。</source>
        <translation>Choose the kind of port.</translation>
    </message>
    <message>
        <source>请输入主机名或IP地址。</source>
        <translation>Enter a host name or IP address.</translation>
    </message>
    <message>
        <source>端口号必须是1到65535之间的数字。</source>
        <translation>The port must be a number from 1 to 65535.</translation>
    </message>
    <message>
        <source>主机地址无效：%1</source>
        <translation>Invalid host address: %1</translation>
    </message>
    <message>
        <source>无法创建目录 %1</source>
        <translation>Cannot create the folder %1</translation>
    </message>
    <message>
        <source>无法写入 %1</source>
        <translation>Cannot write %1</translation>
    </message>
</context>
<context>
    <name>kelm::Pnl_comset</name>
    <message>
        <source>串口号：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>协  议：</source>
        <translation>Protocol:</translation>
    </message>
    <message>
        <source>波特率：</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>数据位：</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>停止位：</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>校验位：</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>串口配置：%1</source>
        <translation>Serial format: %1</translation>
    </message>
    <message>
        <source>串口参数</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>终端串口信息</source>
        <translation>Module serial settings</translation>
    </message>
    <message>
        <source>查询串口信息</source>
        <translation>Find settings</translation>
    </message>
    <message>
        <source>
说明：
1、模块默认地址为1，通讯参数为RTU/9600bps/8bit/2stop/None；
2、如果忘记通讯参数配置，请先选择RTU协议，单击“查询串口信息”按
钮自动查询，若失败后切换ASCII协议再重复操作；
3、使用该功能时通讯口下只能有一个模块；
</source>
        <translation>
Notes:
1. A module&apos;s default address is 1, its settings RTU/9600bps/8bit/2stop/None.
2. If a module&apos;s settings are forgotten, choose the RTU protocol and click
&quot;Find settings&quot;; if that fails, switch to ASCII and try again.
3. Only one module may be on the line while this runs.
</translation>
    </message>
    <message>
        <source>地址：%1</source>
        <translation>Address: %1</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>高级&gt;&gt;</source>
        <translation>Advanced &gt;&gt;</translation>
    </message>
    <message>
        <source>高级&lt;&lt;</source>
        <translation>Advanced &lt;&lt;</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>串口不存在或被占用！</source>
        <translation>The port does not exist or is in use!</translation>
    </message>
    <message>
        <source>主机串口丢失，需要手动重启，是否关闭程序？</source>
        <translation>The host port was lost and must be restarted by hand. Close the program?</translation>
    </message>
    <message>
        <source>串口没有打开！</source>
        <translation>The port is not open!</translation>
    </message>
    <message>
        <source>正在查询通讯参数...</source>
        <translation>Looking for the module&apos;s settings...</translation>
    </message>
    <message>
        <source>串口意外关闭！</source>
        <translation>The port closed unexpectedly!</translation>
    </message>
    <message>
        <source>通讯错误，需要更换主机串口协议或检查通讯连接线路！</source>
        <translation>No answer: change the host protocol or check the wiring!</translation>
    </message>
    <message>
        <source>网络端口（TCP 透传）：波特率和校验位在设备服务器上设置，此处不起作用。</source>
        <translation>Network port (raw TCP): baud rate and parity are set on the device server; these have no effect.</translation>
    </message>
    <message>
        <source>网络端口（RFC 2217）：串口参数通过网络发送到设备服务器。</source>
        <translation>Network port (RFC 2217): the serial settings are sent to the device server.</translation>
    </message>
    <message>
        <source>网络端口（Modbus TCP 网关）：串口参数在网关上设置，此处不起作用；只支持 RTU 协议。</source>
        <translation>Network port (Modbus TCP gateway): the serial settings are set on the gateway and have no effect here; RTU only.</translation>
    </message>
    <message>
        <source>Modbus TCP 网关只转发 RTU 帧，不能使用 ASCII 协议。请选择 RTU 协议。</source>
        <translation>A Modbus TCP gateway forwards RTU frames only, not ASCII. Choose the RTU protocol.</translation>
    </message>
</context>
<context>
    <name>kelm::Status</name>
    <message>
        <source>正在扫描终端数据......</source>
        <translation>Reading the module......</translation>
    </message>
    <message>
        <source>当前终端通讯响应正常!</source>
        <translation>The module answers normally!</translation>
    </message>
</context>
<context>
    <name>kelm::TFMmain</name>
    <message>
        <source>扫描终端</source>
        <translation>Scan bus</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>通讯监视</source>
        <translation>Monitor</translation>
    </message>
    <message>
        <source>趋势图</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>支持型号：</source>
        <translation>Supported models:</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>网络端口设置无法保存：%1</source>
        <translation>The network ports cannot be saved: %1</translation>
    </message>
    <message>
        <source>该网络端口已存在：%1</source>
        <translation>This network port is listed already: %1</translation>
    </message>
    <message>
        <source>网络端口太多，无法再添加。</source>
        <translation>Too many network ports; no more can be added.</translation>
    </message>
    <message>
        <source>加入趋势图</source>
        <translation>Add to trend</translation>
    </message>
    <message>
        <source>语言设置无法保存：%1</source>
        <translation>The language choice cannot be saved: %1</translation>
    </message>
    <message>
        <source>添加网络端口...</source>
        <translation>Add network port...</translation>
    </message>
    <message>
        <source>删除网络端口</source>
        <translation>Remove network port</translation>
    </message>
</context>
<context>
    <name>kelm::TFMmonitor</name>
    <message>
        <source>字符</source>
        <translation>characters</translation>
    </message>
    <message>
        <source>字节</source>
        <translation>bytes</translation>
    </message>
    <message>
        <source>（收到 %1，应为 %2）</source>
        <translation> (got %1, expected %2)</translation>
    </message>
    <message>
        <source>，表行 </source>
        <translation>, row </translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>，无匹配表行（功能码%1，寄存器%2，字节数%3）</source>
        <translation>, no matching row (function %1, register %2, byte count %3)</translation>
    </message>
    <message>
        <source>（尚无请求）</source>
        <translation>(no request yet)</translation>
    </message>
    <message>
        <source>地址%1 功能码%2 寄存器%3</source>
        <translation>address %1 function %2 register %3</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source> …（共%1字节）</source>
        <translation> … (%1 bytes in all)</translation>
    </message>
    <message>
        <source>串口未打开，未发出</source>
        <translation>port not open, not sent</translation>
    </message>
    <message>
        <source>丢弃：</source>
        <translation>Dropped: </translation>
    </message>
    <message>
        <source>送扫描处理 </source>
        <translation>to the scan </translation>
    </message>
    <message>
        <source>送链路检测 </source>
        <translation>to the link check </translation>
    </message>
    <message>
        <source>送 </source>
        <translation>to </translation>
    </message>
    <message>
        <source>太短（%1%2，至少5）</source>
        <translation>too short (%1 %2, at least 5)</translation>
    </message>
    <message>
        <source>太长（%1%2，至多256）</source>
        <translation>too long (%1 %2, at most 256)</translation>
    </message>
    <message>
        <source>CRC校验错误</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>LRC校验错误</source>
        <translation>LRC error</translation>
    </message>
    <message>
        <source>ASCII字符数为奇数（冒号与回车换行之间%1个）</source>
        <translation>odd number of ASCII characters (%1 between the colon and CR LF)</translation>
    </message>
    <message>
        <source>含非十六进制字符（第%1个字符）</source>
        <translation>non-hex character (character %1)</translation>
    </message>
    <message>
        <source>含非十六进制字符</source>
        <translation>non-hex character</translation>
    </message>
    <message>
        <source>未选择协议，无法校验</source>
        <translation>no protocol chosen, cannot check</translation>
    </message>
    <message>
        <source>地址0的应答，但不是链路检测的应答</source>
        <translation>reply from address 0 outside the link check</translation>
    </message>
    <message>
        <source>来自地址%1，尚未选择模块</source>
        <translation>from address %1, no module selected</translation>
    </message>
    <message>
        <source>来自地址%1，不是所选模块（地址%2）</source>
        <translation>from address %1, not the selected module (address %2)</translation>
    </message>
    <message>
        <source> 没有登记处理程序</source>
        <translation> has no handler registered</translation>
    </message>
    <message>
        <source>尚未选择模块型号，没有应答处理程序</source>
        <translation>no model selected, no reply handler</translation>
    </message>
    <message>
        <source>型号“%1”没有应答处理程序</source>
        <translation>no reply handler for model &quot;%1&quot;</translation>
    </message>
    <message>
        <source>在处理上一应答期间到达</source>
        <translation>arrived while the previous reply was handled</translation>
    </message>
    <message>
        <source>送趋势图轮询</source>
        <translation>to the trend polling</translation>
    </message>
    <message>
        <source>趋势图轮询超时后迟到的应答</source>
        <translation>late reply after a trend poll timed out</translation>
    </message>
    <message>
        <source>（应答功能码%1与之不同）</source>
        <translation> (reply function %1 differs)</translation>
    </message>
    <message>
        <source>无匹配表行</source>
        <translation>no row</translation>
    </message>
    <message>
        <source>太短</source>
        <translation>too short</translation>
    </message>
    <message>
        <source>太长</source>
        <translation>too long</translation>
    </message>
    <message>
        <source>CRC错误</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>LRC错误</source>
        <translation>LRC error</translation>
    </message>
    <message>
        <source>奇数长度</source>
        <translation>odd length</translation>
    </message>
    <message>
        <source>非十六进制</source>
        <translation>non-hex</translation>
    </message>
    <message>
        <source>未选协议</source>
        <translation>no protocol</translation>
    </message>
    <message>
        <source>非链路检测的广播应答</source>
        <translation>broadcast reply outside the link check</translation>
    </message>
    <message>
        <source>非所选地址</source>
        <translation>other address</translation>
    </message>
    <message>
        <source>无处理程序</source>
        <translation>no handler</translation>
    </message>
    <message>
        <source>处理中到达</source>
        <translation>arrived while busy</translation>
    </message>
    <message>
        <source>轮询迟到应答</source>
        <translation>late poll reply</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>接收</source>
        <translation>Recv</translation>
    </message>
    <message>
        <source>时间(ms)</source>
        <translation>Time (ms)</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Dir.</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>字节（十六进制）</source>
        <translation>Bytes (hex)</translation>
    </message>
    <message>
        <source>ASCII文本</source>
        <translation>ASCII text</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Meaning</translation>
    </message>
    <message>
        <source>结论</source>
        <translation>Verdict</translation>
    </message>
    <message>
        <source>所依据的请求</source>
        <translation>Request</translation>
    </message>
    <message>
        <source>通讯监视</source>
        <translation>Communication monitor</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>计数</source>
        <translation>Counters</translation>
    </message>
    <message>
        <source>从站地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>接受</source>
        <translation>Accepted</translation>
    </message>
    <message>
        <source>丢弃</source>
        <translation>Dropped</translation>
    </message>
    <message>
        <source>丢弃原因</source>
        <translation>Reasons</translation>
    </message>
    <message>
        <source>发送 %1 帧&#x3000;接受 %2 帧&#x3000;丢弃 %3 帧</source>
        <translation>Sent %1 frames   accepted %2   dropped %3</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>
显示 %1 帧（最多保留最近 %2 帧）</source>
        <translation>
Showing %1 frames (the latest %2 at most are kept)</translation>
    </message>
    <message>
        <source>&#x3000;已暂停，未记录 %1 帧</source>
        <translation>   paused, %1 frames not recorded</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>0（广播）</source>
        <translation>0 (broadcast)</translation>
    </message>
    <message>
        <source>保存通讯记录</source>
        <translation>Save the frames</translation>
    </message>
    <message>
        <source>文本文件 (*.txt);;所有文件 (*)</source>
        <translation>Text files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>保存失败：%1
%2</source>
        <translation>Saving failed: %1
%2</translation>
    </message>
</context>
<context>
    <name>kelm::TFMnetport</name>
    <message>
        <source>添加网络端口</source>
        <translation>Add network port</translation>
    </message>
    <message>
        <source>类型：</source>
        <translation>Kind:</translation>
    </message>
    <message>
        <source>主机：</source>
        <translation>Host:</translation>
    </message>
    <message>
        <source>端口：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>该网络端口已存在：%1</source>
        <translation>This network port is listed already: %1</translation>
    </message>
</context>
<context>
    <name>kelm::TFMserching</name>
    <message>
        <source>扫描在线终端</source>
        <translation>Scan for modules</translation>
    </message>
    <message>
        <source>扫描间隔区间500-5000ms！</source>
        <translation>The scan interval must be 500-5000 ms!</translation>
    </message>
    <message>
        <source>终端扫描完毕！</source>
        <translation>Scan finished!</translation>
    </message>
    <message>
        <source>扫描间隔：</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source>开始地址：</source>
        <translation>Start at:</translation>
    </message>
    <message>
        <source>扫描地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
</context>
<context>
    <name>kelm::TFMtrend</name>
    <message>
        <source>尽快</source>
        <translation>ASAP</translation>
    </message>
    <message>
        <source>0.2 秒</source>
        <translation>0.2 s</translation>
    </message>
    <message>
        <source>0.5 秒</source>
        <translation>0.5 s</translation>
    </message>
    <message>
        <source>1 秒</source>
        <translation>1 s</translation>
    </message>
    <message>
        <source>2 秒</source>
        <translation>2 s</translation>
    </message>
    <message>
        <source>5 秒</source>
        <translation>5 s</translation>
    </message>
    <message>
        <source>10 秒</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>1 分钟</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>开/关</source>
        <translation>on/off</translation>
    </message>
    <message>
        <source>次</source>
        <translation>counts</translation>
    </message>
    <message>
        <source>%1计数</source>
        <translation>%1 count</translation>
    </message>
    <message>
        <source>趋势图</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>间隔：</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source>暂停显示</source>
        <translation>Freeze view</translation>
    </message>
    <message>
        <source>跟随最新</source>
        <translation>Follow latest</translation>
    </message>
    <message>
        <source>记录到文件...</source>
        <translation>Log to file...</translation>
    </message>
    <message>
        <source>停止记录</source>
        <translation>Stop logging</translation>
    </message>
    <message>
        <source>通道：</source>
        <translation>Channels:</translation>
    </message>
    <message>
        <source>加入</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>移除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>（单位未知）</source>
        <translation>(unit unknown)</translation>
    </message>
    <message>
        <source>无法写入记录文件“%1”：%2。记录已停止，趋势图继续运行。</source>
        <translation>Cannot write the log file &quot;%1&quot;: %2. Logging stopped; the trend goes on.</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>记录到文件</source>
        <translation>Log to file</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>无法打开记录文件“%1”：%2。</source>
        <translation>Cannot open the log file &quot;%1&quot;: %2.</translation>
    </message>
    <message>
        <source>轮询中</source>
        <translation>Polling</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>，%1 个通道，%2 轮，%3 次无应答</source>
        <translation>, %1 channels, %2 rounds, %3 unanswered</translation>
    </message>
    <message>
        <source>，显示已暂停</source>
        <translation>, view frozen</translation>
    </message>
    <message>
        <source>，记录到 %1（%2 行）</source>
        <translation>, logging to %1 (%2 rows)</translation>
    </message>
    <message>
        <source>。</source>
        <translation>. </translation>
    </message>
    <message>
        <source>
%1：%2</source>
        <translation>
%1: %2</translation>
    </message>
</context>
<context>
    <name>kelm::TFmabout</name>
    <message>
        <source>关于软件</source>
        <translation>About</translation>
    </message>
    <message>
        <source> 本软件用于我公司KELM系列远程IO模块的参数配置及调试，</source>
        <translation> Configures and tests our KELM remote I/O modules;</translation>
    </message>
    <message>
        <source>模块的接线、寄存器定义等详细说明请参阅模块用户手册，</source>
        <translation>for wiring and registers, see the modules&apos; manuals.</translation>
    </message>
    <message>
        <source>勿用于非法用途，感谢您的使用！</source>
        <translation>Do not use it unlawfully. Thank you!</translation>
    </message>
    <message>
        <source>版本：%1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>KELM 自动化</source>
        <translation>KELM Automation</translation>
    </message>
</context>
<context>
    <name>kelm::TksPortConfigDialog</name>
    <message>
        <source>硬件</source>
        <translation>Hardware</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>空格</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>每秒位数(B):</source>
        <translation>&amp;Bits per second:</translation>
    </message>
    <message>
        <source>数据位(D):</source>
        <translation>&amp;Data bits:</translation>
    </message>
    <message>
        <source>奇偶校验(P):</source>
        <translation>&amp;Parity:</translation>
    </message>
    <message>
        <source>停止位(S):</source>
        <translation>&amp;Stop bits:</translation>
    </message>
    <message>
        <source>数据流控制(F):</source>
        <translation>&amp;Flow control:</translation>
    </message>
    <message>
        <source>%1 属性</source>
        <translation>%1 Properties</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
