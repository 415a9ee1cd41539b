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
</context>
</TS>
