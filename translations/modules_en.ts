<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>kelm::Panels</name>
    <message>
        <source>量程值：</source>
        <translation>Value:</translation>
    </message>
    <message>
        <source>工程量：</source>
        <translation>Value:</translation>
    </message>
    <message>
        <source>8通道模式参数配置成功！</source>
        <translation>Modes of the 8 channels written.</translation>
    </message>
    <message>
        <source>数字量：</source>
        <translation>Count:</translation>
    </message>
    <message>
        <source>模式：</source>
        <translation>Mode:</translation>
    </message>
    <message>
        <source>使能模式配置</source>
        <translation>Enable mode setting</translation>
    </message>
    <message>
        <source>读取8通道模式</source>
        <translation>Read 8 modes</translation>
    </message>
    <message>
        <source>配置8通道模式</source>
        <translation>Write 8 modes</translation>
    </message>
    <message>
        <source>读取8通道数据</source>
        <translation>Read 8 channels</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1未选择模式，请先选择模式！</source>
        <translation>No mode selected for %1. Select a mode first.</translation>
    </message>
    <message>
        <source>红色：停止；绿色：运行</source>
        <translation>Red: stopped; green: running</translation>
    </message>
    <message>
        <source>DO相关位配置为脉冲输出后无法再使用开关量输出命令控制，请确认操作？</source>
        <translation>Outputs set to pulse output can no longer be switched by on/off commands. Continue?</translation>
    </message>
    <message>
        <source>控制模式：</source>
        <translation>Control mode:</translation>
    </message>
    <message>
        <source>DO单通道控制</source>
        <translation>DO single control</translation>
    </message>
    <message>
        <source>DO多通道控制</source>
        <translation>DO multiple control</translation>
    </message>
    <message>
        <source>DO模式配置</source>
        <translation>DO mode setting</translation>
    </message>
    <message>
        <source>DO初始化配置</source>
        <translation>DO initial states</translation>
    </message>
    <message>
        <source>多通道DO控制</source>
        <translation>Write all DO</translation>
    </message>
    <message>
        <source>查询DO模式值</source>
        <translation>Read DO modes</translation>
    </message>
    <message>
        <source>设置DO模式值</source>
        <translation>Write DO modes</translation>
    </message>
    <message>
        <source>查询DO初始值</source>
        <translation>Read DO initial states</translation>
    </message>
    <message>
        <source>设置DO初始值</source>
        <translation>Write DO initial states</translation>
    </message>
    <message>
        <source>更新通讯参数&gt;&gt;</source>
        <translation>Change communication &gt;&gt;</translation>
    </message>
    <message>
        <source>更新通讯参数&lt;&lt;</source>
        <translation>Change communication &lt;&lt;</translation>
    </message>
    <message>
        <source>通讯参数配置成功！</source>
        <translation>Communication parameters written.</translation>
    </message>
    <message>
        <source>设备型号：</source>
        <translation>Model:</translation>
    </message>
    <message>
        <source>硬件版本：</source>
        <translation>Hardware:</translation>
    </message>
    <message>
        <source>软件版本：</source>
        <translation>Software:</translation>
    </message>
    <message>
        <source>当前地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>新通讯参数</source>
        <translation>New communication parameters</translation>
    </message>
    <message>
        <source>串口配置：</source>
        <translation>Serial format:</translation>
    </message>
    <message>
        <source>地  址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>协  议：</source>
        <translation>Protocol:</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>电压</source>
        <translation>Voltage</translation>
    </message>
    <message>
        <source>开关量输出</source>
        <translation>On/off output</translation>
    </message>
    <message>
        <source>脉冲输出</source>
        <translation>Pulse output</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>查询版本信息</source>
        <translation>Read versions</translation>
    </message>
    <message>
        <source>更新参数</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>查询DI状态</source>
        <translation>Read DI states</translation>
    </message>
    <message>
        <source>DI开关量输入滤波时间配置成功！</source>
        <translation>DI filter time written.</translation>
    </message>
    <message>
        <source>查询DO状态</source>
        <translation>Read DO states</translation>
    </message>
    <message>
        <source>DO初始状态值配置成功！</source>
        <translation>DO initial states written.</translation>
    </message>
    <message>
        <source>DO输出模式配置成功！</source>
        <translation>DO output modes written.</translation>
    </message>
    <message>
        <source>脉冲输出ON电平时间设置成功！</source>
        <translation>Pulse ON time written.</translation>
    </message>
    <message>
        <source>脉冲输出OFF电平时间设置成功！</source>
        <translation>Pulse OFF time written.</translation>
    </message>
    <message>
        <source>两路AO模式配置成功！</source>
        <translation>Modes of both AO written.</translation>
    </message>
    <message>
        <source>两路AO数据更新成功！</source>
        <translation>Values of both AO written.</translation>
    </message>
    <message>
        <source>写两路AO数据</source>
        <translation>Write both values</translation>
    </message>
    <message>
        <source>写两路AO模式</source>
        <translation>Write both modes</translation>
    </message>
    <message>
        <source>读两路AO模式及数据</source>
        <translation>Read modes and values</translation>
    </message>
    <message>
        <source>AO0数据更新成功！</source>
        <translation>AO0 value written.</translation>
    </message>
    <message>
        <source>AO1数据更新成功！</source>
        <translation>AO1 value written.</translation>
    </message>
    <message>
        <source>写入AO%1数据</source>
        <translation>Write AO%1 value</translation>
    </message>
    <message>
        <source>当前值：</source>
        <translation>Value:</translation>
    </message>
    <message>
        <source>查询设备信息</source>
        <translation>Read device info</translation>
    </message>
    <message>
        <source>设置参数</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>查询RY状态</source>
        <translation>Read RY states</translation>
    </message>
    <message>
        <source>多通道RY控制</source>
        <translation>Write all RY</translation>
    </message>
    <message>
        <source>设置初始值</source>
        <translation>Write initial states</translation>
    </message>
    <message>
        <source>查询初始值</source>
        <translation>Read initial states</translation>
    </message>
    <message>
        <source>继电器上电初始值状态配置成功！</source>
        <translation>Relay power-on states written.</translation>
    </message>
    <message>
        <source>    使用开关量输入时，可以通过调节滤波时间来扛干扰，以适应不同应用场合，脉冲计数不受此限制。</source>
        <translation>    For on/off inputs, the filter time can be adjusted to reject interference as the application needs; pulse counting is not affected by it.</translation>
    </message>
    <message>
        <source>DI脉冲计数启动后会清除当前计数值，请选择操作？</source>
        <translation>Starting DI pulse counting clears the present count. Continue?</translation>
    </message>
    <message>
        <source>滤波时间值为100-10000！</source>
        <translation>The filter time must be 100-10000.</translation>
    </message>
    <message>
        <source>DI脉冲计数启动！</source>
        <translation>DI pulse counting started.</translation>
    </message>
    <message>
        <source>DI脉冲计数关闭！</source>
        <translation>DI pulse counting stopped.</translation>
    </message>
    <message>
        <source>开关量输入</source>
        <translation>On/off input</translation>
    </message>
    <message>
        <source>脉冲计数输入</source>
        <translation>Pulse counting input</translation>
    </message>
    <message>
        <source>开关量滤波：</source>
        <translation>On/off filter:</translation>
    </message>
    <message>
        <source>滤波时间：</source>
        <translation>Filter time:</translation>
    </message>
    <message>
        <source>读取配置</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>更新配置</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>脉冲计数：</source>
        <translation>Pulse counting:</translation>
    </message>
    <message>
        <source>启动</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>状态：</source>
        <translation>State:</translation>
    </message>
    <message>
        <source>计数值：</source>
        <translation>Count:</translation>
    </message>
    <message>
        <source>计数状态查询</source>
        <translation>Read counting state</translation>
    </message>
    <message>
        <source>脉冲输出电平时间范围2-65535！</source>
        <translation>The pulse level time must be 2-65535.</translation>
    </message>
    <message>
        <source>脉冲输出数量范围0-4294967295！</source>
        <translation>The pulse count must be 0-4294967295.</translation>
    </message>
    <message>
        <source>DO脉冲持续输出已启动！</source>
        <translation>DO continuous pulse output started.</translation>
    </message>
    <message>
        <source>DO脉冲持续输出已关闭！</source>
        <translation>DO continuous pulse output stopped.</translation>
    </message>
    <message>
        <source>脉冲数量输出已启动！</source>
        <translation>Counted pulse output started.</translation>
    </message>
    <message>
        <source>脉冲数量输出已关闭！</source>
        <translation>Counted pulse output stopped.</translation>
    </message>
    <message>
        <source>脉冲输出：</source>
        <translation>Pulse output:</translation>
    </message>
    <message>
        <source>波形时间</source>
        <translation>Waveform times</translation>
    </message>
    <message>
        <source>读取ON/OFF配置</source>
        <translation>Read ON/OFF times</translation>
    </message>
    <message>
        <source>ON电平：</source>
        <translation>ON level:</translation>
    </message>
    <message>
        <source>OFF电平：</source>
        <translation>OFF level:</translation>
    </message>
    <message>
        <source>控制及状态</source>
        <translation>Control and state</translation>
    </message>
    <message>
        <source>连续</source>
        <translation>Continuous</translation>
    </message>
    <message>
        <source>数量:</source>
        <translation>Count:</translation>
    </message>
    <message>
        <source>控制状态查询</source>
        <translation>Read control state</translation>
    </message>
    <message>
        <source>保存配置...</source>
        <translation>Save configuration...</translation>
    </message>
    <message>
        <source>载入配置...</source>
        <translation>Load configuration...</translation>
    </message>
    <message>
        <source>串口未打开，请先打开串口。</source>
        <translation>The serial port is not open. Open it first.</translation>
    </message>
    <message>
        <source>正在读取模块配置......</source>
        <translation>Reading the module configuration...</translation>
    </message>
    <message>
        <source>读取模块配置失败：%1</source>
        <translation>Reading the module configuration failed: %1</translation>
    </message>
    <message>
        <source>未写入</source>
        <translation>Not written</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>已写入，未校验</source>
        <translation>Written, not verified</translation>
    </message>
    <message>
        <source>已校验</source>
        <translation>Verified</translation>
    </message>
    <message>
        <source>读回不同</source>
        <translation>Read back differs</translation>
    </message>
    <message>
        <source>载入配置</source>
        <translation>Load configuration</translation>
    </message>
    <message>
        <source>模块 %1（地址 %2）与配置文件的设置；标 * 的行不同，确定后写入这些设置。</source>
        <translation>Settings of module %1 (address %2) and of the configuration file; rows marked * differ and are written when you confirm.</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>模块值</source>
        <translation>Module value</translation>
    </message>
    <message>
        <source>文件值</source>
        <translation>File value</translation>
    </message>
    <message>
        <source>*通讯</source>
        <translation>*Comm</translation>
    </message>
    <message>
        <source>同时写入通讯参数（串口格式、地址、协议；最后写入）</source>
        <translation>Also write the communication parameters (serial format, address, protocol; written last)</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>载入配置结果</source>
        <translation>Load configuration result</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>全部 %1 项设置已写入并读回校验一致。</source>
        <translation>All %1 settings were written and verified by reading back.</translation>
    </message>
    <message>
        <source>写入已取消。</source>
        <translation>Writing was cancelled.</translation>
    </message>
    <message>
        <source>写入未全部完成：%1</source>
        <translation>Writing did not complete: %1</translation>
    </message>
    <message>
        <source>
已写入并校验 %1 项，已写入未校验 %2 项，读回不同 %3 项，失败 %4 项，未写入 %5 项。</source>
        <translation>
Written and verified: %1, written but not verified: %2, read back differs: %3, failed: %4, not written: %5.</translation>
    </message>
    <message>
        <source>
通讯参数未写入。</source>
        <translation>
The communication parameters were not written.</translation>
    </message>
    <message>
        <source>
模块的通讯参数已写入（地址 %1）：请按新参数重新扫描。</source>
        <translation>
The module&apos;s communication parameters were written (address %1): scan again with the new parameters.</translation>
    </message>
    <message>
        <source>请先在设备树中选择一个模块。</source>
        <translation>Select a module in the device tree first.</translation>
    </message>
    <message>
        <source>保存配置</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>模块配置 (*.json)</source>
        <translation>Module configuration (*.json)</translation>
    </message>
    <message>
        <source>地址 %1 的模块是 %2，不是 %3；未保存。</source>
        <translation>The module at address %1 is a %2, not a %3; nothing was saved.</translation>
    </message>
    <message>
        <source>无法写入文件 %1：%2</source>
        <translation>Cannot write the file %1: %2</translation>
    </message>
    <message>
        <source>模块配置已保存到 %1</source>
        <translation>Module configuration saved to %1</translation>
    </message>
    <message>
        <source>无法读取文件 %1：%2</source>
        <translation>Cannot read the file %1: %2</translation>
    </message>
    <message>
        <source>%1 不是模块配置文件（文件过大）；未发送任何请求。</source>
        <translation>%1 is not a module configuration file (the file is too large); no request was sent.</translation>
    </message>
    <message>
        <source>配置文件无效：%1
未发送任何请求。</source>
        <translation>Invalid configuration file: %1
No request was sent.</translation>
    </message>
    <message>
        <source>model: 配置文件是 %1 的，所选模块是 %2；未发送任何请求。</source>
        <translation>model: the configuration file is for a %1, the selected module is a %2; no request was sent.</translation>
    </message>
    <message>
        <source>model: 配置文件是 %1 的，地址 %2 的模块是 %3；未写入任何设置。</source>
        <translation>model: the configuration file is for a %1, the module at address %2 is a %3; no setting was written.</translation>
    </message>
    <message>
        <source>模块的设置与配置文件相同，无需写入。</source>
        <translation>The module&apos;s settings are the same as the configuration file&apos;s; nothing to write.</translation>
    </message>
    <message>
        <source>无法写入：%1
未写入任何设置。</source>
        <translation>Cannot write: %1
No setting was written.</translation>
    </message>
    <message>
        <source>没有要写入的设置（通讯参数未选）。</source>
        <translation>No settings to write (the communication parameters are not selected).</translation>
    </message>
    <message>
        <source>正在写入模块配置......</source>
        <translation>Writing the module configuration...</translation>
    </message>
    <message>
        <source>正在写入 %1 ......</source>
        <translation>Writing %1...</translation>
    </message>
</context>
</TS>
