<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>DiVuVarude</name>
    <message>
        <source>添加了一张模板</source>
        <translation>Added a template</translation>
    </message>
    <message>
        <source>删除了所有模板</source>
        <translation>Deleted all templates</translation>
    </message>
    <message>
        <source>删除模板%1 </source>
        <translation>Deleted template %1 </translation>
    </message>
    <message>
        <source>相机无新画面，检测判为NG</source>
        <translation>No new picture from the camera, detection judged NG</translation>
    </message>
    <message>
        <source>警报解除方法：不检测此模</source>
        <translation>Alarm cleared by: skip checking this mould</translation>
    </message>
    <message>
        <source>警报解除方法：添加为模板</source>
        <translation>Alarm cleared by: add as template</translation>
    </message>
    <message>
        <source>警报解除方法：重新检测(报警NG图片)</source>
        <translation>Alarm cleared by: re-detect (alarm NG picture)</translation>
    </message>
    <message>
        <source>警报解除方法：重新检测(重检OK图片)</source>
        <translation>Alarm cleared by: re-detect (re-check OK picture)</translation>
    </message>
    <message>
        <source>检测结果NG（NG不停机）</source>
        <translation>Detection result NG (no stop on NG)</translation>
    </message>
    <message>
        <source>单元组异常-未发现IO</source>
        <translation>Unit group fault - no IO found</translation>
    </message>
    <message>
        <source>单元组异常-丢失子相机</source>
        <translation>Unit group fault - sub camera lost</translation>
    </message>
    <message>
        <source>检测异常-丢失数据</source>
        <translation>Detection fault - data lost</translation>
    </message>
    <message>
        <source> 停止检测</source>
        <translation> Detection stopped</translation>
    </message>
    <message>
        <source>正常运行</source>
        <translation>Running normally</translation>
    </message>
    <message>
        <source>重新采样</source>
        <translation>Resampling</translation>
    </message>
    <message>
        <source>未登录</source>
        <translation>Not logged in</translation>
    </message>
</context>
<context>
    <name>FlowPart_AftDect_NGStop</name>
    <message>
        <source>停止检测</source>
        <translation>Stop detection</translation>
    </message>
</context>
<context>
    <name>FlowPart_AfterDetect</name>
    <message>
        <source>检测结果%1时：</source>
        <translation>When the detection result is %1: </translation>
    </message>
    <message>
        <source>延时%2秒，</source>
        <translation>after a delay of %2 s, </translation>
    </message>
    <message>
        <source>，持续%5秒</source>
        <translation>, for %5 s</translation>
    </message>
</context>
<context>
    <name>FlowPart_Cond_IO</name>
    <message>
        <source>延时%2秒，</source>
        <translation>after a delay of %2 s, </translation>
    </message>
    <message>
        <source>，持续%5秒</source>
        <translation>, for %5 s</translation>
    </message>
    <message>
        <source>闭合</source>
        <translation>closed</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>open</translation>
    </message>
    <message>
        <source>或</source>
        <translation> or </translation>
    </message>
    <message>
        <source>且</source>
        <translation> and </translation>
    </message>
    <message>
        <source>时。</source>
        <translation>.</translation>
    </message>
</context>
<context>
    <name>FlowPart_Cond_PreResult</name>
    <message>
        <source>前一个检测（index = %1）检测结果 = %2 后</source>
        <translation>After the previous detection (index = %1) gave result = %2</translation>
    </message>
</context>
<context>
    <name>FlowPart_IO</name>
    <message>
        <source>获取FlowPart_IO信息出错</source>
        <translation>Error reading the FlowPart_IO information</translation>
    </message>
    <message>
        <source>（输出-%3 -&gt; %4）</source>
        <translation>(output-%3 -&gt; %4)</translation>
    </message>
    <message>
        <source>闭合</source>
        <translation>closed</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>open</translation>
    </message>
</context>
<context>
    <name>Product_Manager</name>
    <message>
        <source>安全门闭合，直接解除NG</source>
        <translation>Safety door closed, NG released directly</translation>
    </message>
    <message>
        <source>安全门闭合，重新检测模腔</source>
        <translation>Safety door closed, mould cavity detected again</translation>
    </message>
    <message>
        <source>安全门断开，解除报警声</source>
        <translation>Safety door open, alarm sound silenced</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>parameters not loaded</source>
        <translation>parameters not loaded</translation>
    </message>
    <message>
        <source>%1号检测%2号区域的形状或功能无法识别</source>
        <translation>Detection %1 region %2: shape or function not recognised</translation>
    </message>
    <message>
        <source>参数保存失败</source>
        <translation>Saving the parameters failed</translation>
    </message>
    <message>
        <source>%1号检测不存在，未进行检测</source>
        <translation>Detection %1 does not exist, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域无法识别，未进行检测</source>
        <translation>Detection %1 region %2 not recognised, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域检测失败：%3</source>
        <translation>Detection %1 region %2 failed: %3</translation>
    </message>
    <message>
        <source>%1号检测%2号区域NG</source>
        <translation>Detection %1 region %2 NG</translation>
    </message>
    <message>
        <source>%1号检测%2号区域：&quot;detect_index&quot;所指的检测不在使用中（使用中的为1至%3），其区域不能修改</source>
        <translation>Detection %1 region %2: &quot;detect_index&quot; names a detection not in use (1 to %3 are), its regions cannot be changed</translation>
    </message>
    <message>
        <source>%1号检测%2号区域：&quot;detect_index&quot;不是检测序号</source>
        <translation>Detection %1 region %2: &quot;detect_index&quot; is not a detection number</translation>
    </message>
    <message>
        <source>%1号检测%2号区域：&quot;roi_type&quot;的值&quot;%3&quot;不是已知的形状（%4）</source>
        <translation>Detection %1 region %2: &quot;roi_type&quot; &quot;%3&quot; is not a known shape (%4)</translation>
    </message>
    <message>
        <source>%1号检测%2号区域：&quot;func_type&quot;的值&quot;%3&quot;不是已知的功能（%4）</source>
        <translation>Detection %1 region %2: &quot;func_type&quot; &quot;%3&quot; is not a known function (%4)</translation>
    </message>
    <message>
        <source>%1号检测%2号区域：&quot;roi_infos&quot;不是%3形状的整数坐标</source>
        <translation>Detection %1 region %2: &quot;roi_infos&quot; are not whole-number coordinates of a %3</translation>
    </message>
    <message>
        <source>第%1个区域不是JSON对象</source>
        <translation>Region %1 of the set is not a JSON object</translation>
    </message>
    <message>
        <source>%1号检测%2号区域无法达到报警面积，未进行检测：%3</source>
        <translation>Detection %1 region %2 cannot reach its alarm area, not detected: %3</translation>
    </message>
    <message>
        <source>%1号检测%2号区域无法达到报警面积：%3</source>
        <translation>Detection %1 region %2 cannot reach its alarm area: %3</translation>
    </message>
    <message>
        <source>可检测面积%1不超过报警面积%2</source>
        <translation>countable area %1 does not exceed the alarm area %2</translation>
    </message>
    <message>
        <source>可检测面积%1不超过最大面积%2</source>
        <translation>countable area %1 does not exceed the largest area %2</translation>
    </message>
    <message>
        <source>圆形</source>
        <translation>Circle</translation>
    </message>
    <message>
        <source>多边形</source>
        <translation>Polygon</translation>
    </message>
    <message>
        <source>矩形</source>
        <translation>Rectangle</translation>
    </message>
    <message>
        <source>缺陷检测</source>
        <translation>Flaw detection</translation>
    </message>
    <message>
        <source>，灵敏度为%1，报警面积为%2，过滤尺寸为%3</source>
        <translation>, sensitivity %1, alarm area %2, filter size %3</translation>
    </message>
    <message>
        <source>%1号检测%2号区域初始化失败</source>
        <translation>Detection %1 region %2 initialisation failed</translation>
    </message>
    <message>
        <source>%1号检测%2号区域初始化，未进行检测</source>
        <translation>Detection %1 region %2 initialising, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域的过滤尺寸%3超出范围%4..%5</source>
        <translation>Detection %1 region %2: filter size %3 outside %4..%5</translation>
    </message>
    <message>
        <source>忽略区域</source>
        <translation>Ignore region</translation>
    </message>
    <message>
        <source>目标定位</source>
        <translation>Target location</translation>
    </message>
    <message>
        <source>，最少匹配%1</source>
        <translation>, minimum match %1</translation>
    </message>
    <message>
        <source>，最少匹配从%1改为%2</source>
        <translation>, minimum match changed from %1 to %2</translation>
    </message>
    <message>
        <source>%1号检测%2号区域搜索区域无效，未进行检测</source>
        <translation>Detection %1 region %2: search area invalid, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域初始化失败，未进行检测</source>
        <translation>Detection %1 region %2 initialisation failed, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域没有可检测的像素</source>
        <translation>Detection %1 region %2 has no pixels to detect</translation>
    </message>
    <message>
        <source>%1号检测%2号区域无效，未进行检测</source>
        <translation>Detection %1 region %2 invalid, not detected</translation>
    </message>
    <message>
        <source>%1号检测%2号区域无效，初始化失败</source>
        <translation>Detection %1 region %2 invalid, initialisation failed</translation>
    </message>
    <message>
        <source>警告：%1号检测%2号区域的宽或高无效，请重新调整区域大小</source>
        <translation>Warning: detection %1 region %2 has an invalid width or height, please resize the region</translation>
    </message>
    <message>
        <source>%1区域%2,功能是</source>
        <translation>%1 region %2, function is</translation>
    </message>
    <message>
        <source>修改了%1区域%2,</source>
        <translation>Changed %1 region %2,</translation>
    </message>
    <message>
        <source>功能从%1改为%2</source>
        <translation>function changed from %1 to %2</translation>
    </message>
    <message>
        <source>功能是%1</source>
        <translation>function is %1</translation>
    </message>
    <message>
        <source>，检测位置被修改</source>
        <translation>, detection position changed</translation>
    </message>
    <message>
        <source>%1号相机,第%2检测</source>
        <translation>Camera %1, detection %2</translation>
    </message>
    <message>
        <source>增加了</source>
        <translation>added </translation>
    </message>
    <message>
        <source>减少了</source>
        <translation>removed </translation>
    </message>
    <message>
        <source>斑点检测</source>
        <translation>Spot detection</translation>
    </message>
    <message>
        <source>，最小灰度为%1，最大灰度为%2，最小面积为%3，最大面积为%4</source>
        <translation>, minimum grey %1, maximum grey %2, minimum area %3, maximum area %4</translation>
    </message>
    <message>
        <source>，最小面积从%1改为%2</source>
        <translation>, minimum area changed from %1 to %2</translation>
    </message>
    <message>
        <source>，最大面积从%1改为%2</source>
        <translation>, maximum area changed from %1 to %2</translation>
    </message>
    <message>
        <source>，最小灰度从%1改为%2</source>
        <translation>, minimum grey changed from %1 to %2</translation>
    </message>
    <message>
        <source>，最大灰度从%1改为%2</source>
        <translation>, maximum grey changed from %1 to %2</translation>
    </message>
</context>
<context>
    <name>SmartManager_Deamon</name>
    <message>
        <source>初始化成功!</source>
        <translation>Initialised successfully!</translation>
    </message>
    <message>
        <source>IO连接出现中断</source>
        <translation>IO connection interrupted</translation>
    </message>
    <message>
        <source>多相机连接出现中断</source>
        <translation>Multi-camera connection interrupted</translation>
    </message>
</context>
<context>
    <name>VCam_IO</name>
    <message>
        <source>警告：长时间没有输入信号！</source>
        <translation>Warning: no input signal for a long time!</translation>
    </message>
</context>
<context>
    <name>Vistrel_Manager</name>
    <message>
        <source>相机 %1 启动，ID：%2, IP: %3</source>
        <translation>Camera %1 started, ID: %2, IP: %3</translation>
    </message>
</context>
<context>
    <name>WizardPara</name>
    <message>
        <source>标准机</source>
        <translation>Standard machine</translation>
    </message>
    <message>
        <source>双色机</source>
        <translation>Two-colour machine</translation>
    </message>
    <message>
        <source>转盘机</source>
        <translation>Turntable machine</translation>
    </message>
    <message>
        <source>运行模式</source>
        <translation>Run mode</translation>
    </message>
    <message>
        <source>左右模</source>
        <translation>Left and right moulds</translation>
    </message>
    <message>
        <source>左模</source>
        <translation>Left mould</translation>
    </message>
    <message>
        <source>右模</source>
        <translation>Right mould</translation>
    </message>
    <message>
        <source>模号</source>
        <translation>Mould number</translation>
    </message>
    <message>
        <source>成品NG后,安全门关闭时，重检成品</source>
        <translation>After a product NG, re-check the product when the safety door closes</translation>
    </message>
    <message>
        <source>自定义</source>
        <translation>Custom</translation>
    </message>
</context>
<context>
    <name>ZRC_WorkInformation_Manager</name>
    <message>
        <source>IP发生变化: %1 -&gt; %2</source>
        <translation>IP changed: %1 -&gt; %2</translation>
    </message>
</context>
<context>
    <name>stage_productstatistics</name>
    <message>
        <source>检测计数已被清零</source>
        <translation>Detection counts cleared</translation>
    </message>
</context>
</TS>