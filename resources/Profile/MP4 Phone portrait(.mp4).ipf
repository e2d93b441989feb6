<Profile>
<ResWidth>1080</ResWidth>
<ResHeight>1920</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>8000</VideoBR>
<AudioBR>4</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>H.264 (MP4)</CodecName>
<CodecSettings/>
</Profile>
